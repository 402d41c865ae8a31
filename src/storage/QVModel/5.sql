-- The device key a user signs with, named in its record once and never changed: the tag it lies under for
-- good and its identity (the SHA-256 of its public key's SubjectPublicKeyInfo). A tag alone can be another
-- organisation's, another data folder's or a removed user's as well. A user stored by an earlier version
-- names none until its key is known to be its own.
ALTER TABLE QVUserEntity ADD COLUMN keyTag TEXT;
ALTER TABLE QVUserEntity ADD COLUMN keyIdentity TEXT;
-- The keys of users that left this device, from the deletion of their row until the keyring has deleted
-- them, so that a deletion the keyring refused is tried again at the next start. An earlier version's user
-- named no key: its row names the tag alone, and the one key under that tag goes.
CREATE TABLE QVKeyDeletion (
    Z_PK INTEGER PRIMARY KEY AUTOINCREMENT,
    tag TEXT NOT NULL,
    keyIdentity TEXT
);
