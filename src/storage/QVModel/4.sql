-- An enrolment makes its key under a tag of its own and names, before it stores the user, the zid that user
-- will have: a later start moves the key of an attempt whose user is stored to that user's signing tag, and
-- deletes the key of one whose user is not. An attempt without it (of an earlier version, or one that
-- ended before its registration was answered) stored no user with its key.
ALTER TABLE QVKeyAttempt ADD COLUMN zid TEXT;
