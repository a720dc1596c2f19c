#include "core/testsupport/FailingAllocations.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool t_failAllocations = false;
}

void* operator new(std::size_t size)
{
    if (t_failAllocations) {
        throw std::bad_alloc();
    }
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// These deletes free what the operator new above took from malloc; inlined into a caller, GCC
// sees only a block from `new` handed to free and takes the pair for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace Fundor::testing {

FailingAllocations::FailingAllocations() : m_saved(t_failAllocations) { t_failAllocations = true; }
FailingAllocations::~FailingAllocations() { t_failAllocations = m_saved; }
bool FailingAllocations::Active() { return t_failAllocations; }

AllowedAllocations::AllowedAllocations() : m_saved(t_failAllocations) { t_failAllocations = false; }
AllowedAllocations::~AllowedAllocations() { t_failAllocations = m_saved; }

}  // namespace Fundor::testing
