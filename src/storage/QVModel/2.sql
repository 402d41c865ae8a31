-- The device keys of enrolments that have not ended yet, one row per attempt, written before its key is
-- made and removed when the attempt ends. A row whose process is gone names a key this device made for
-- an enrolment that stored no user: the one kind of key a later start may delete.
CREATE TABLE QVKeyAttempt (
    Z_PK INTEGER PRIMARY KEY AUTOINCREMENT,
    -- the enrolment tag the key is filed under
    tag TEXT NOT NULL,
    -- the process that made the attempt: boot id, process id and start time
    owner TEXT NOT NULL,
    -- 1 once the attempt itself has made the key; a key it found under the tag is not its own
    keyMade INTEGER NOT NULL DEFAULT 0
);
