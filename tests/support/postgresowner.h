// The tests' PostgreSQL server as its owner reaches it. QUORVID_TEST_POSTGRESQL
// is the bench role's address on the server ctest or the Windows stage starts
// (scripts/postgres-test.sh), its password in it; the owner, quorvid, is
// trusted there. Included (as "support/postgresowner.h") by the tests that
// link store/.
#pragma once

#include "resultsstore.h"

#include <QtGlobal>

#include <optional>

namespace quorvid::testsupport {

inline std::optional<store::StoreAddress> serverOwner(const QString& database = QStringLiteral("quorvid"))
{
    std::optional<store::StoreAddress> a = store::parseStoreAddress(qEnvironmentVariable("QUORVID_TEST_POSTGRESQL"), nullptr);
    if (!a || a->kind != store::StoreAddress::Kind::Postgresql) return std::nullopt;
    a->database = database;
    a->user = QStringLiteral("quorvid");
    a->password.clear();
    return a;
}

}  // namespace quorvid::testsupport
