-- An attempt names the very key it makes, before the keyring holds it: a later start deletes the key under
-- the attempt's tag only when it is that key, since the same e-mail and PIN give another profile on the
-- same keyring, or a later enrolment, the same tag. An attempt without it (written by an earlier version,
-- or one that ended before its key existed) deletes nothing. keyMade is no longer written.
ALTER TABLE QVKeyAttempt ADD COLUMN keyIdentity TEXT;
