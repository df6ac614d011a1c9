-- The tables of the package manager's local database that a search meets,
-- with their real columns and constraints. Only packages(name, version) is
-- ever queried; the rest is here so that the fixture looks like the real file.
PRAGMA journal_mode = WAL;
BEGIN;
CREATE TABLE mtree (
    id INTEGER PRIMARY KEY,
    content TEXT NOT NULL UNIQUE
);
CREATE TABLE packages (
    id INTEGER PRIMARY KEY,
    origin TEXT NOT NULL,
    name TEXT NOT NULL,
    version TEXT NOT NULL,
    comment TEXT NOT NULL,
    desc TEXT NOT NULL,
    mtree_id INTEGER REFERENCES mtree(id) ON DELETE RESTRICT ON UPDATE CASCADE,
    message TEXT,
    arch TEXT NOT NULL,
    maintainer TEXT NOT NULL,
    www TEXT,
    prefix TEXT NOT NULL,
    flatsize INTEGER NOT NULL,
    automatic INTEGER NOT NULL,
    locked INTEGER NOT NULL DEFAULT 0,
    licenselogic INTEGER NOT NULL,
    time INTEGER,
    manifestdigest TEXT NULL,
    pkg_format_version INTEGER,
    dep_formula TEXT NULL,
    vital INTEGER NOT NULL DEFAULT 0
);
CREATE UNIQUE INDEX packages_unique ON packages(name);
CREATE TABLE deps (
    origin TEXT NOT NULL,
    name TEXT NOT NULL,
    version TEXT NOT NULL,
    package_id INTEGER REFERENCES packages(id) ON DELETE CASCADE ON UPDATE CASCADE
);
CREATE UNIQUE INDEX deps_unique ON deps(name, version, package_id);
CREATE TABLE files (
    path TEXT PRIMARY KEY,
    sha256 TEXT,
    package_id INTEGER REFERENCES packages(id) ON DELETE CASCADE ON UPDATE CASCADE
);
CREATE TABLE categories (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE
);
CREATE TABLE pkg_categories (
    package_id INTEGER REFERENCES packages(id) ON DELETE CASCADE ON UPDATE CASCADE,
    category_id INTEGER REFERENCES categories(id) ON DELETE RESTRICT ON UPDATE RESTRICT,
    UNIQUE(package_id, category_id)
);
CREATE TABLE annotation (
    annotation_id INTEGER PRIMARY KEY,
    annotation TEXT NOT NULL UNIQUE
);
CREATE TABLE pkg_annotation (
    package_id INTEGER REFERENCES packages(id) ON DELETE CASCADE ON UPDATE RESTRICT,
    tag_id INTEGER NOT NULL REFERENCES annotation(annotation_id) ON DELETE CASCADE ON UPDATE RESTRICT,
    value_id INTEGER NOT NULL REFERENCES annotation(annotation_id) ON DELETE CASCADE ON UPDATE RESTRICT,
    UNIQUE(package_id, tag_id)
);
PRAGMA user_version = 36;
COMMIT;
