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
  attempt INTEGER
);
CREATE INDEX SendLogDoctor ON SendLog (DataSet, id);
