// Whether the helper threads can be expected to run beside the caller.
#pragma once

#include <cstdlib>

namespace xcover::testing {

// Under valgrind every thread runs in turn on one lock, and a helper can wait the whole of a
// short search for its turn; the test script sets XCOVER_TEST_SERIAL_THREADS there. Results
// are still compared; only the check that helpers did some of the work is left out.
inline bool helpers_run_alongside() {
    const char* serial = std::getenv("XCOVER_TEST_SERIAL_THREADS");
    return serial == nullptr || *serial == '\0' || *serial == '0';
}

}  // namespace xcover::testing
