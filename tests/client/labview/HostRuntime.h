#pragma once

// The test program plays the LabVIEW process that loads the bridge: it
// exports its own NumericArrayResize, which the bridge finds and uses in
// place of its built-in one. It resizes with the built-in layer, counts the
// calls and fails on request.
namespace lvtest {

class HostRuntime {
public:
    // Counts from zero again and lets every resize succeed.
    static void reset();
    static int resizeCalls();
    // The next `okCalls` resizes succeed, every later one fails.
    static void failAfter(int okCalls);
};

// Resets the host run-time for the lifetime of a test.
struct HostRuntimeScope {
    HostRuntimeScope() { HostRuntime::reset(); }
    ~HostRuntimeScope() { HostRuntime::reset(); }
};

}  // namespace lvtest
