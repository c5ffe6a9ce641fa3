#pragma once

// The benchmarks' name for the generated device database shared with the tests.

#include "../../tests/support/xml_database_text.h"

namespace vantrel::bench {

using DatabaseShape = test::DatabaseTextShape;

inline std::string GenerateDatabase(const DatabaseShape& shape) {
    return test::GenerateDatabaseText(shape);
}

}  // namespace vantrel::bench
