-- The working database MorlayBankCC.mdb, generated at build time from this file.
--
-- ClienttableDBF is the column template of every working table: its column 0 becomes the
-- record-number column No, its columns 1..49 give type and width to up to 49 source fields,
-- and column n (n = number of source fields) is carried once more under its own name as the
-- running-number column of ClienttableCC. That is why columns 1..49 are called 查重流水号NN:
-- whichever of them ends up last reads as "check running number".
--
-- Widths: 4000 characters per field. Customer values (names, addresses, notes imported from
-- dBase memo fields) are far shorter; a value is never cut on import or on copy into the
-- duplicate table, so the separation always finds the record it copied.
-- Text compares fold ASCII letter case and keep trailing blanks (NOCASE), as filters do.

-- Text is kept as UTF-16, the form the program reads it in.
PRAGMA encoding = 'UTF-16le';

CREATE TABLE ClienttableDBF (
    [查重No] VARCHAR(32) COLLATE NOCASE,
    [查重流水号01] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号02] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号03] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号04] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号05] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号06] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号07] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号08] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号09] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号10] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号11] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号12] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号13] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号14] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号15] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号16] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号17] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号18] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号19] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号20] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号21] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号22] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号23] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号24] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号25] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号26] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号27] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号28] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号29] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号30] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号31] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号32] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号33] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号34] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号35] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号36] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号37] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号38] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号39] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号40] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号41] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号42] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号43] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号44] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号45] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号46] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号47] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号48] VARCHAR(4000) COLLATE NOCASE,
    [查重流水号49] VARCHAR(4000) COLLATE NOCASE
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
