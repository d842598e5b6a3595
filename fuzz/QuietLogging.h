#pragma once
// Included by each fuzz harness (one translation unit per program): log
// messages are still composed, so their formatting runs under the fuzzer; only
// their output, millions of lines, is switched off.
#include <boost/log/core/core.hpp>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    boost::log::core::get()->set_logging_enabled(false);
    return 0;
}
