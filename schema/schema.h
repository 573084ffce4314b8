// The reference schemas, compiled in from schema/*.sql so the tool needs no
// files beside itself to create a target or a sample.
#pragma once

namespace velaccap::schema {

// SQLite DDL of a release 8.12 account set: every table the upgrade reads.
extern const char kSource812[];

// SQLite DDL of an empty release 8.20 account set, its option rows seeded.
extern const char kTarget820[];

}  // namespace velaccap::schema
