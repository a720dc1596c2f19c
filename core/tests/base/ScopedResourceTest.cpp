#include "core/base/ScopedResource.h"

#include <gtest/gtest.h>

#include <functional>

namespace Fundor {
namespace {

// Closes by counting and by overwriting the last error, as a failing close would.
struct ClobberingTraits {
    using type = int;
    static inline int closed = 0;
    static type empty() noexcept { return 0; }
    static bool valid(type value) noexcept { return value != 0; }
    static void close(type) noexcept
    {
        ++closed;
        ::SetLastError(ERROR_INVALID_HANDLE);
    }
};
using ClobberingOwner = ScopedResource<ClobberingTraits>;

TEST(ScopedResourceTest, ReleasingKeepsTheCallersLastError)
{
    struct Case {
        const char* name;
        std::function<void()> act;
        int expectedCloses;
    };
    const Case cases[] = {
        {"reset", [] { ClobberingOwner owner(7); owner.reset(); (void)owner.release(); }, 1},
        {"reset to a new value", [] { ClobberingOwner owner(7); owner.reset(8); (void)owner.release(); }, 1},
        {"put", [] { ClobberingOwner owner(7); *owner.put() = 0; }, 1},
        {"move assignment", [] { ClobberingOwner owner(7); ClobberingOwner other(8); owner = std::move(other); (void)owner.release(); }, 1},
        {"destructor", [] { ClobberingOwner owner(7); }, 1},
        {"empty owner", [] { ClobberingOwner owner; owner.reset(); }, 0},
    };
    for (const Case& c : cases) {
        ClobberingTraits::closed = 0;
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        c.act();
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ::GetLastError()) << c.name;
        EXPECT_EQ(c.expectedCloses, ClobberingTraits::closed) << c.name;
    }
}

}  // namespace
}  // namespace Fundor
