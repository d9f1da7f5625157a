// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "click_loader.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace sound {

// The click for a path as it is now. Every call looks at the file (one stat, never an open)
// and, when it changed, has it decoded again on a thread of its own: the caller, a beat, never
// waits for a decode. Until the new file is ready the click it replaces plays, or the fallback
// when there was none; a path that names no usable file gives the fallback at once.
class ClickSource {
  public:
    // Decodes a file; gives nullptr and a reason when it cannot.
    using Decoder = std::function<ClickPtr(const std::string& path, std::string& why)>;
    // Takes one line saying why a file there is not used, or that one now is.
    using Reporter = std::function<void(const std::string& line)>;

    // The defaults decode with loadClickFile and report on stderr.
    explicit ClickSource(ClickPtr fallback, Decoder decode = {}, Reporter report = {});
    ~ClickSource();
    ClickSource(const ClickSource&) = delete;
    ClickSource& operator=(const ClickSource&) = delete;

    // The samples to play for `path`; nullptr only when there is no fallback either.
    ClickPtr clickFor(const std::string& path);
    // Whether the last call fell back to the built-in click.
    bool usedFallback() const { return m_usedFallback; }
    // How many files were decoded so far.
    int decodes() const { return m_decodes.load(); }
    // Waits until no decode is asked for or running, for tests and benchmarks; false on timeout.
    bool waitForDecode(std::chrono::milliseconds timeout);

  private:
    // What a stat saw: a file of that size and times at that place, or why there is none.
    struct Seen {
        std::string path;
        int error = 0;
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = -1, mtimeNs = -1, ctimeNs = -1;
        unsigned mode = 0;
        bool operator==(const Seen&) const = default;
    };
    struct Result {
        Seen seen;
        ClickPtr click;
        std::string why;
    };

    Seen look(const std::string& path) const;
    void use(const Seen& seen, ClickPtr click, const std::string& why);
    void work();

    ClickPtr m_fallback;
    Decoder m_decode;
    Reporter m_report;

    // The caller's side.
    std::optional<Seen> m_current; // what the click in use came from
    ClickPtr m_loaded;
    std::optional<Seen> m_asked; // decode asked for and not yet taken back
    std::optional<Seen> m_reported;
    bool m_usedFallback = false;

    // Shared with the worker.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Seen> m_job;
    std::optional<Result> m_done;
    bool m_busy = false;
    bool m_stop = false;
    std::atomic<int> m_decodes = 0;
    std::thread m_worker;
};

} // namespace sound
