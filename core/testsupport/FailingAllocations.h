#pragma once
// Allocation failure on request. A test program that links core_testsupport_allocations replaces
// operator new: it fails (std::bad_alloc) on a thread while a FailingAllocations lives there, and
// allocates as usual otherwise.

namespace Fundor::testing {

class FailingAllocations {
public:
    FailingAllocations();
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
    // Whether operator new fails on this thread now.
    [[nodiscard]] static bool Active();

private:
    bool m_saved;
};

// Lets the current thread allocate again while it lives, inside a FailingAllocations (a test's
// own records use it).
class AllowedAllocations {
public:
    AllowedAllocations();
    ~AllowedAllocations();
    AllowedAllocations(const AllowedAllocations&) = delete;
    AllowedAllocations& operator=(const AllowedAllocations&) = delete;

private:
    bool m_saved;
};

}  // namespace Fundor::testing
