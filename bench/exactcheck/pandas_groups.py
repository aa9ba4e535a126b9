"""The same duplicate groups with pandas: read the rows, mark duplicates on the check fields,
number the groups and write them out. Prints the seconds taken."""
import sys
import time

import pandas as pd

src, out, fields = sys.argv[1], sys.argv[2], sys.argv[3].split(",")
t = time.perf_counter()
df = pd.read_csv(src, dtype=str, keep_default_na=False)
key = df[fields].apply(lambda col: col.str.strip())
mask = key.duplicated(keep=False) & (key[fields[0]] != "")
dups = df[mask].copy()
dups.insert(0, "No", key[mask].groupby(fields, sort=False).ngroup() + 1)
dups = dups.sort_values("No", kind="stable")
dups.to_csv(out, index=False)
print(f"{time.perf_counter() - t:.3f} {int(mask.sum())} {dups['No'].max() if len(dups) else 0}")
