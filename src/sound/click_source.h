#pragma once

#include "click_loader.h"

#include <cstdint>
#include <string>

namespace sound {

// The click for a path as it is now: the file is checked on every call (size and
// modification time) and decoded again only when it changed. A path that names no
// usable file gives the fallback click.
class ClickSource {
  public:
    explicit ClickSource(ClickPtr fallback) : m_fallback(std::move(fallback)) {}

    // The samples to play for `path`; nullptr only when there is no fallback either.
    ClickPtr clickFor(const std::string& path);
    // Whether the last call fell back to the built-in click.
    bool usedFallback() const { return m_usedFallback; }
    // How many times a file was decoded, for tests.
    int decodes() const { return m_decodes; }

    // Whether `path` can name a file on this platform. A drive-letter path, for one, names
    // nothing here, and must not be taken relative to the working folder.
    static bool namesFile(const std::string& path);

  private:
    ClickPtr m_fallback;
    std::string m_path;
    std::int64_t m_size = -1;
    std::int64_t m_mtimeNs = -1;
    std::uint64_t m_inode = 0;
    ClickPtr m_loaded;
    bool m_usedFallback = false;
    int m_decodes = 0;
};

} // namespace sound
