#pragma once
// Where the operating-system classification takes the system's real version from: the
// "ProductVersion" string of the System folder's kernel32.dll. A seam, so that tests can feed
// version texts of their own.

#include "core/base/ShlObjAPI.h"

#include <memory>
#include <string>

namespace Fundor::internal {

class ProductVersionSource {
public:
    // The known-folder seam is shared; a default one is made when none is given.
    explicit ProductVersionSource(std::shared_ptr<ShlObjAPI> shell = nullptr);
    virtual ~ProductVersionSource();
    ProductVersionSource(const ProductVersionSource&) = delete;
    ProductVersionSource& operator=(const ProductVersionSource&) = delete;

    // kernel32's "ProductVersion" text; empty when it cannot be read.
    [[nodiscard]] virtual std::wstring ReadProductVersion();

private:
    std::shared_ptr<ShlObjAPI> m_shell;
};

}  // namespace Fundor::internal
