CREATE TABLE Headers (
  DataSet TEXT,
  id TEXT,
  title TEXT,
  fname TEXT,
  sname TEXT,
  add1 TEXT,
  add2 TEXT,
  town TEXT,
  county TEXT,
  postcode TEXT,
  annuity REAL,
  email TEXT,
  nino TEXT,
  nhspsno TEXT,
  pct TEXT,
  nosolo TEXT,
  paygross TEXT
);
CREATE INDEX HeadersDataSet ON Headers (DataSet, id);
CREATE TABLE Details (
  recno INTEGER,
  DataSet TEXT,
  id TEXT,
  Shift_Date TEXT,
  Location TEXT,
  Shift TEXT,
  Times TEXT,
  Rate REAL,
  Total REAL,
  AdjustmentTime INTEGER,
  AdjustmentRate REAL,
  Extra INTEGER,
  Notes TEXT,
  superfee decimal(10,2) default 0,
  nonsuperfee decimal(10,2) default 0
);
CREATE INDEX DetailsDataSet ON Details (DataSet, id);
CREATE INDEX DetailsRecno ON Details (recno);
CREATE TABLE FileNames (
  DataSet TEXT,
  Label TEXT,
  Imported TEXT
);
CREATE TABLE SendLog (
  DataSet TEXT,
  id TEXT,
  address TEXT,
  attachments TEXT,
  sent_at TEXT,
  outcome TEXT,
  reply TEXT,
  attempt INTEGER,
  net_payment REAL,
  attachment_sha256 TEXT,
  import_stamp TEXT
);
CREATE INDEX SendLogDoctor ON SendLog (DataSet, id);
CREATE TABLE SendClaims (
  DataSet TEXT,
  username TEXT,
  host TEXT,
  pid INTEGER,
  started_at TEXT,
  heartbeat TEXT,
  token TEXT
);
CREATE UNIQUE INDEX SendClaimsDataSet ON SendClaims (DataSet);
CREATE TABLE History (
  entry INTEGER,
  made_at TEXT,
  who TEXT,
  host TEXT,
  program TEXT,
  action TEXT,
  DataSet TEXT,
  id TEXT,
  recno INTEGER,
  before_values TEXT,
  after_values TEXT,
  detail TEXT,
  hash TEXT
);
CREATE UNIQUE INDEX HistoryEntry ON History (entry);
CREATE TABLE HistoryData (
  entry INTEGER,
  name TEXT,
  sha256 TEXT,
  data BLOB
);
CREATE INDEX HistoryDataEntry ON HistoryData (entry);
