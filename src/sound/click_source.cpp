#include "click_source.h"

#include <sys/stat.h>

namespace sound {

bool ClickSource::namesFile(const std::string& path) {
#ifdef _WIN32
    return !path.empty();
#else
    return !path.empty() && path.front() == '/';
#endif
}

ClickPtr ClickSource::clickFor(const std::string& path) {
    struct stat st {};
    if (!namesFile(path) || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        m_path.clear();
        m_loaded.reset();
        m_usedFallback = true;
        return m_fallback;
    }
    const std::int64_t mtimeNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    if (path != m_path || st.st_size != m_size || mtimeNs != m_mtimeNs || st.st_ino != m_inode) {
        m_path = path;
        m_size = st.st_size;
        m_mtimeNs = mtimeNs;
        m_inode = st.st_ino;
        m_loaded = loadClickFile(path);
        ++m_decodes;
    }
    m_usedFallback = !m_loaded;
    return m_loaded ? m_loaded : m_fallback;
}

} // namespace sound
