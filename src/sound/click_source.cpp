// SPDX-License-Identifier: GPL-3.0-or-later
#include "click_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace sound {

namespace {

ClickPtr decodeFile(const std::string& path, std::string& why) {
    return loadClickFile(path, StreamRate, &why);
}

void toStderr(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

ClickSource::ClickSource(ClickPtr fallback, Decoder decode, Reporter report)
    : m_fallback(std::move(fallback)), m_decode(decode ? std::move(decode) : decodeFile),
      m_report(report ? std::move(report) : toStderr) {}

ClickSource::~ClickSource() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

ClickSource::Seen ClickSource::look(const std::string& path) const {
    Seen seen;
    seen.path = path;
    struct stat st {};
    // A relative path would be taken from whatever folder we were started in.
    if (path.empty() || path.front() != '/') {
        seen.error = EINVAL;
    } else if (::stat(path.c_str(), &st) != 0) {
        seen.error = errno;
    } else {
        seen.device = st.st_dev;
        seen.inode = st.st_ino;
        seen.size = st.st_size;
        seen.mtimeNs = nanoseconds(st.st_mtim);
        // Also a chmod or a rename over the file, which may leave size and mtime as they were.
        seen.ctimeNs = nanoseconds(st.st_ctim);
        seen.mode = st.st_mode;
    }
    return seen;
}

void ClickSource::use(const Seen& seen, ClickPtr click, const std::string& why) {
    const bool wasPlaying = m_loaded != nullptr;
    m_current = seen;
    m_loaded = std::move(click);
    if (m_loaded) {
        m_reported.reset();
        if (!wasPlaying)
            m_report("metronome: playing \"" + seen.path + "\" on every beat");
    } else if (m_reported != seen) {
        m_reported = seen;
        // No file there is how nearly everyone runs us: nothing worth a line.
        if (seen.error != ENOENT && seen.error != EINVAL)
            m_report("metronome: \"" + seen.path + "\": " + why + "; playing the built-in click");
    }
}

ClickPtr ClickSource::clickFor(const std::string& path) {
    std::optional<Result> done;
    {
        std::lock_guard lock(m_mutex);
        done.swap(m_done);
    }
    // A result for a file that has changed since is dropped: its successor is on its way.
    if (done && done->seen == m_asked) {
        m_asked.reset();
        use(done->seen, std::move(done->click), done->why);
    }

    const Seen seen = look(path);
    if (seen.error != 0 || !S_ISREG(seen.mode)) {
        m_asked.reset();
        const char* why = seen.error == EINVAL ? "Not a path on this desktop"
                          : seen.error != 0    ? std::strerror(seen.error)
                          : S_ISDIR(seen.mode) ? std::strerror(EISDIR)
                                               : "Not a regular file";
        use(seen, nullptr, why);
    } else if (seen != m_current && seen != m_asked) {
        m_asked = seen;
        {
            std::lock_guard lock(m_mutex);
            m_job = seen;
        }
        m_wake.notify_all();
        if (!m_worker.joinable()) {
            try {
                m_worker = std::thread(&ClickSource::work, this);
            } catch (const std::system_error& e) {
                m_asked.reset();
                use(seen, nullptr, e.what());
            }
        }
    }
    m_usedFallback = !m_loaded;
    return m_loaded ? m_loaded : m_fallback;
}

bool ClickSource::waitForDecode(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_wake.wait_for(lock, timeout, [this] { return !m_job && !m_busy; });
}

void ClickSource::work() {
    // Decoding is background work: it must neither preempt the beat nor starve the stream's
    // thread. Batch scheduling at a lower priority, where the system lets us.
    const sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_job; });
        if (m_stop)
            return;
        Result result{std::move(*m_job), nullptr, {}};
        m_job.reset();
        m_busy = true;
        lock.unlock();
        try {
            result.click = m_decode(result.seen.path, result.why);
        } catch (const std::exception& e) {
            result.why = e.what();
        } catch (...) {
            result.why = "Decoding failed";
        }
        if (!result.click && result.why.empty())
            result.why = "Not a sound file";
        ++m_decodes;
        lock.lock();
        m_done = std::move(result);
        m_busy = false;
        m_wake.notify_all();
    }
}

} // namespace sound
