-- The enrolled users of this device, one row each.
CREATE TABLE QVUserEntity (
    Z_PK INTEGER PRIMARY KEY AUTOINCREMENT,
    zid TEXT,
    suid TEXT,
    email TEXT,
    displayEmail TEXT,
    orgCode TEXT,
    pin TEXT,
    primaryAttr TEXT,
    invalidAttemptCount INTEGER NOT NULL DEFAULT 0,
    -- milliseconds since 1970-01-01 UTC
    lockedTimeStamp INTEGER
);
CREATE INDEX QVUserEntity_zid ON QVUserEntity (zid);
CREATE INDEX QVUserEntity_email ON QVUserEntity (email, orgCode);

-- Device-wide values; only the first row counts.
CREATE TABLE QVGeneral (
    Z_PK INTEGER PRIMARY KEY AUTOINCREMENT,
    -- milliseconds since 1970-01-01 UTC
    lastLoginTimeStamp INTEGER
);
