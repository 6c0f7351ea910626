#include "platform/linux/AresReverseLookup.h"

#include <ares.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace varnel {

namespace {

uint64_t SteadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// One name-server try; the lookup's own deadline (kAnswerTimeoutMs) bounds the whole.
constexpr int kServerTryMs = 1000;

}  // namespace

struct AresReverseLookup::Engine {
    struct Request {
        bool v6 = false;
        uint32_t addr4 = 0;
        Ip6Address addr6{};
        Done done;
        uint64_t deadline = 0;
        bool answered = false;  // loop thread only
    };

    ~Engine() {
        if (wakeRead >= 0) close(wakeRead);
        if (wakeWrite >= 0) close(wakeWrite);
    }

    bool Open() {
        static std::once_flag once;
        static int libraryStatus = ARES_SUCCESS;
        std::call_once(once, [] { libraryStatus = ares_library_init(ARES_LIB_INIT_ALL); });
        if (libraryStatus != ARES_SUCCESS) return false;
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
        wakeRead = fds[0];
        wakeWrite = fds[1];
        ares_options options{};
        options.timeout = kServerTryMs;
        options.tries = 1;
        char lookups[] = "fb";  // the hosts file first, then DNS
        options.lookups = lookups;
        return ares_init_options(&channel, &options,
                                 ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_LOOKUPS) == ARES_SUCCESS;
    }

    bool Submit(std::shared_ptr<Request> request) {
        {
            std::lock_guard lock(mutex);
            if (stop) return false;
            incoming.push_back(std::move(request));
        }
        Wake();
        return true;
    }

    void Stop() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        Wake();
    }

    void Wake() const {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(wakeWrite, &byte, 1);  // a full pipe already wakes the loop
    }

    static void Answer(Request& r, bool found, const std::string& name) {
        if (r.answered) return;
        r.answered = true;
        Done done = std::move(r.done);
        if (done) done(found, name);
    }

    static void OnAnswer(void* arg, int status, int /*timeouts*/, hostent* host) {
        std::unique_ptr<std::shared_ptr<Request>> holder(static_cast<std::shared_ptr<Request>*>(arg));
        const bool found =
            status == ARES_SUCCESS && host != nullptr && host->h_name != nullptr && host->h_name[0] != '\0';
        Answer(**holder, found, found ? std::string(host->h_name) : std::string());
    }

    void Ask(const std::shared_ptr<Request>& r) {
        inflight.push_back(r);
        auto* arg = new std::shared_ptr<Request>(r);
        if (r->v6)
            ares_gethostbyaddr(channel, r->addr6.bytes, sizeof r->addr6.bytes, AF_INET6, OnAnswer, arg);
        else
            ares_gethostbyaddr(channel, &r->addr4, sizeof r->addr4, AF_INET, OnAnswer, arg);
    }

    void Run() {
        std::vector<std::shared_ptr<Request>> fresh;
        for (;;) {
            // Drained before the queue is taken: a request queued after this leaves a byte that
            // wakes the poll below.
            char drain[64];
            while (read(wakeRead, drain, sizeof drain) > 0) {
            }
            {
                std::lock_guard lock(mutex);
                if (stop) break;
                fresh.swap(incoming);
            }
            for (const auto& r : fresh) Ask(r);
            fresh.clear();

            const uint64_t now = SteadyMs();
            uint64_t nearest = now + kAnswerTimeoutMs;
            for (const auto& r : inflight) {
                if (!r->answered && now >= r->deadline) Answer(*r, false, {});
                if (!r->answered) nearest = std::min(nearest, r->deadline);
            }
            inflight.erase(
                std::remove_if(inflight.begin(), inflight.end(), [](const auto& r) { return r->answered; }),
                inflight.end());

            ares_socket_t socks[ARES_GETSOCK_MAXNUM];
            const int bits = ares_getsock(channel, socks, ARES_GETSOCK_MAXNUM);
            pollfd fds[ARES_GETSOCK_MAXNUM + 1];
            nfds_t count = 0;
            fds[count++] = pollfd{wakeRead, POLLIN, 0};
            for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
                short events = 0;
                if (ARES_GETSOCK_READABLE(bits, i)) events |= POLLIN;
                if (ARES_GETSOCK_WRITABLE(bits, i)) events |= POLLOUT;
                if (events != 0) fds[count++] = pollfd{socks[i], events, 0};
            }
            timeval limit{static_cast<time_t>((nearest - now) / 1000),
                          static_cast<suseconds_t>((nearest - now) % 1000 * 1000)};
            timeval wait{};
            const timeval* next = ares_timeout(channel, &limit, &wait);
            const int timeoutMs = static_cast<int>(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000);
            poll(fds, count, timeoutMs);
            for (nfds_t i = 1; i < count; ++i) {
                const short got = fds[i].revents;
                ares_process_fd(channel, (got & (POLLIN | POLLERR | POLLHUP)) ? fds[i].fd : ARES_SOCKET_BAD,
                                (got & POLLOUT) ? fds[i].fd : ARES_SOCKET_BAD);
            }
            ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // time-outs
        }
        // Answers every lookup still in flight (c-ares calls back with ARES_EDESTRUCTION).
        ares_destroy(channel);
        channel = nullptr;
        for (const auto& r : inflight) Answer(*r, false, {});
        std::vector<std::shared_ptr<Request>> left;
        {
            std::lock_guard lock(mutex);
            left.swap(incoming);
        }
        for (const auto& r : left) Answer(*r, false, {});
    }

    std::mutex mutex;
    std::vector<std::shared_ptr<Request>> incoming;  // guarded by mutex
    bool stop = false;                               // guarded by mutex
    int wakeRead = -1;
    int wakeWrite = -1;
    ares_channel channel = nullptr;                  // loop thread only, once running
    std::vector<std::shared_ptr<Request>> inflight;  // loop thread only
    std::thread thread;
};

AresReverseLookup::AresReverseLookup() {
    auto engine = std::make_shared<Engine>();
    if (!engine->Open()) {
        if (engine->channel != nullptr) ares_destroy(engine->channel);
        return;
    }
    try {
        // The thread keeps the engine alive until its loop ends.
        engine->thread = std::thread([engine] { engine->Run(); });
    } catch (const std::system_error&) {
        ares_destroy(engine->channel);
        return;
    }
    engine_ = std::move(engine);
}

AresReverseLookup::~AresReverseLookup() {
    if (!engine_) return;
    engine_->Stop();
    if (engine_->thread.get_id() == std::this_thread::get_id())
        engine_->thread.detach();
    else
        engine_->thread.join();
}

bool AresReverseLookup::Asynchronous() const {
    return engine_ != nullptr;
}

bool AresReverseLookup::BeginNameInfo(uint32_t addrNetworkOrder, Done done) {
    if (!engine_) return false;
    auto r = std::make_shared<Engine::Request>();
    r->addr4 = addrNetworkOrder;
    r->done = std::move(done);
    r->deadline = SteadyMs() + kAnswerTimeoutMs;
    return engine_->Submit(std::move(r));
}

bool AresReverseLookup::BeginNameInfo6(const Ip6Address& addr, Done done) {
    if (!engine_) return false;
    auto r = std::make_shared<Engine::Request>();
    r->v6 = true;
    r->addr6 = addr;
    r->done = std::move(done);
    r->deadline = SteadyMs() + kAnswerTimeoutMs;
    return engine_->Submit(std::move(r));
}

bool AresReverseLookup::Wait(bool v6, uint32_t addr4, const Ip6Address& addr6, std::string& name) {
    auto answer = std::make_shared<std::promise<std::pair<bool, std::string>>>();
    auto result = answer->get_future();
    Done done = [answer](bool found, const std::string& n) { answer->set_value({found, n}); };
    if (!(v6 ? BeginNameInfo6(addr6, std::move(done)) : BeginNameInfo(addr4, std::move(done)))) return false;
    // The loop answers every lookup by its deadline; the margin only guards against a stalled loop.
    if (result.wait_for(std::chrono::milliseconds(kAnswerTimeoutMs + 1000)) != std::future_status::ready)
        return false;
    auto [found, text] = result.get();
    if (!found) return false;
    name = std::move(text);
    return true;
}

bool AresReverseLookup::NameInfo(uint32_t addrNetworkOrder, std::string& name) {
    if (!engine_) return SystemReverseLookup::NameInfo(addrNetworkOrder, name);
    return Wait(false, addrNetworkOrder, Ip6Address{}, name);
}

bool AresReverseLookup::HostByAddr(uint32_t addrNetworkOrder, std::string& name) {
    if (!engine_) return SystemReverseLookup::HostByAddr(addrNetworkOrder, name);
    return Wait(false, addrNetworkOrder, Ip6Address{}, name);
}

bool AresReverseLookup::NameInfo6(const Ip6Address& addr, std::string& name) {
    if (!engine_) return SystemReverseLookup::NameInfo6(addr, name);
    return Wait(true, 0, addr, name);
}

}  // namespace varnel
