-- Sample accounts and rules, run in the site's Data directory after the
-- table script. The user ann has the password secret (hash of "SECRET").
INSERT OR REPLACE INTO groups_file.GROUPS VALUES ('STAFF', 'Staff');
INSERT OR REPLACE INTO users_file.USERS VALUES ('ANN', 'ann', -1728511175, CAST('Staff' || char(13) AS BLOB));
-- The home directory is open to everyone; private/ only to the group Staff.
INSERT OR REPLACE INTO access_file.ACCESS VALUES ('SERVER', upper('@SITE@/HTDOCS/'), 'GET', 'I', 'N',
  CAST('' AS BLOB), CAST('' AS BLOB), CAST('' AS BLOB));
INSERT OR REPLACE INTO access_file.ACCESS VALUES ('SERVER', upper('@SITE@/HTDOCS/PRIVATE/'), 'GET', 'I', 'Y',
  CAST('Staff' || char(13) AS BLOB), CAST('' AS BLOB), CAST('' AS BLOB));
