-- The working database MorlayBankCC.mdb, generated at build time from this file.
--
-- ClienttableDBF is the column template of every working table: its column 0 becomes the
-- record-number column No, its columns 1..49 give type and width to up to 49 source fields,
-- and column n (n = number of source fields) is carried once more under its own name as the
-- running-number column of ClienttableCC. That is why columns 1..49 are called 查重流水号NN:
-- whichever of them ends up last reads as "check running number".
--
-- Widths: none. A column holds any text a source field can hold, memo fields of tens of thousands
-- of characters included: a value is never cut on import or on copy into the duplicate table,
-- so the separation always finds the record it copied.
-- Text compares fold ASCII letter case (NOCASE), as filters do; filters also leave out the blanks
-- at both ends of a value.

-- Text is kept as UTF-16, the form the program reads it in.
PRAGMA encoding = 'UTF-16le';
-- Large pages: a working table of a million records is a few hundred megabytes, written whole on
-- import and nearly every page of it touched when a tenth of its records are deleted; 64 KiB
-- pages take a sixteenth of the reads and writes 4 KiB pages take (a sixth less time for a
-- million-row text file's whole check).
PRAGMA page_size = 65536;
-- The schema's version. An installed program gives every user an own copy of this database;
-- when a newer program ships a higher number, the copy is rebuilt from the new database with the
-- user's tables carried over. Raise it whenever a table here changes.
PRAGMA user_version = 1;

CREATE TABLE ClienttableDBF (
    [查重No] VARCHAR(32) COLLATE NOCASE,
    [查重流水号01] TEXT COLLATE NOCASE,
    [查重流水号02] TEXT COLLATE NOCASE,
    [查重流水号03] TEXT COLLATE NOCASE,
    [查重流水号04] TEXT COLLATE NOCASE,
    [查重流水号05] TEXT COLLATE NOCASE,
    [查重流水号06] TEXT COLLATE NOCASE,
    [查重流水号07] TEXT COLLATE NOCASE,
    [查重流水号08] TEXT COLLATE NOCASE,
    [查重流水号09] TEXT COLLATE NOCASE,
    [查重流水号10] TEXT COLLATE NOCASE,
    [查重流水号11] TEXT COLLATE NOCASE,
    [查重流水号12] TEXT COLLATE NOCASE,
    [查重流水号13] TEXT COLLATE NOCASE,
    [查重流水号14] TEXT COLLATE NOCASE,
    [查重流水号15] TEXT COLLATE NOCASE,
    [查重流水号16] TEXT COLLATE NOCASE,
    [查重流水号17] TEXT COLLATE NOCASE,
    [查重流水号18] TEXT COLLATE NOCASE,
    [查重流水号19] TEXT COLLATE NOCASE,
    [查重流水号20] TEXT COLLATE NOCASE,
    [查重流水号21] TEXT COLLATE NOCASE,
    [查重流水号22] TEXT COLLATE NOCASE,
    [查重流水号23] TEXT COLLATE NOCASE,
    [查重流水号24] TEXT COLLATE NOCASE,
    [查重流水号25] TEXT COLLATE NOCASE,
    [查重流水号26] TEXT COLLATE NOCASE,
    [查重流水号27] TEXT COLLATE NOCASE,
    [查重流水号28] TEXT COLLATE NOCASE,
    [查重流水号29] TEXT COLLATE NOCASE,
    [查重流水号30] TEXT COLLATE NOCASE,
    [查重流水号31] TEXT COLLATE NOCASE,
    [查重流水号32] TEXT COLLATE NOCASE,
    [查重流水号33] TEXT COLLATE NOCASE,
    [查重流水号34] TEXT COLLATE NOCASE,
    [查重流水号35] TEXT COLLATE NOCASE,
    [查重流水号36] TEXT COLLATE NOCASE,
    [查重流水号37] TEXT COLLATE NOCASE,
    [查重流水号38] TEXT COLLATE NOCASE,
    [查重流水号39] TEXT COLLATE NOCASE,
    [查重流水号40] TEXT COLLATE NOCASE,
    [查重流水号41] TEXT COLLATE NOCASE,
    [查重流水号42] TEXT COLLATE NOCASE,
    [查重流水号43] TEXT COLLATE NOCASE,
    [查重流水号44] TEXT COLLATE NOCASE,
    [查重流水号45] TEXT COLLATE NOCASE,
    [查重流水号46] TEXT COLLATE NOCASE,
    [查重流水号47] TEXT COLLATE NOCASE,
    [查重流水号48] TEXT COLLATE NOCASE,
    [查重流水号49] TEXT COLLATE NOCASE
);

-- A permanent table without rows: the main grid's data source before any source is open.
CREATE TABLE empty_table (
    [字段] VARCHAR(50) COLLATE NOCASE
);

-- Postcode segments of the fuzzy check; the program addresses the columns by position.
CREATE TABLE yb_table (
    [段号] SMALLINT,
    [邮编] VARCHAR(6) COLLATE NOCASE
);

-- Which source the rows of ClienttableCC and ClienttableDD were found in, so that the backup is
-- restored only for its own table and otherwise named to the user, and where they stand with
-- it: 已查重 (still in the check table), 已分离 (separated from it), 已合并 (merged since).
CREATE TABLE ClienttableOwner (
    [工作表] VARCHAR(32) PRIMARY KEY,
    [数据表] TEXT,
    [状态] TEXT
);
