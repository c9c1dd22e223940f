// The per-process pool: connections stay open between the short-lived CNX_DBOption objects.
#include <pthread.h>
#include <unistd.h>

#include <atomic>

#include <mutex>
#include <utility>

#include "NxDbConnection.h"
#include "NxDbPool.h"

namespace nxsql {
namespace {

constexpr size_t kMaxIdle = 8;

struct Pool {
    std::mutex mutex;
    bool configured = false;
    NxDbSettings settings;
    uint64_t generation = 1;
    std::vector<std::unique_ptr<PooledConnection>> idle;
    long opened = 0;
    int busy = 0;
    pid_t pid = getpid();
};

// Set in a forked child; checked on every pool call without a system call.
std::atomic<bool> g_forked{false};

void markForked() {
    g_forked.store(true);
}

Pool& pool() {
    static Pool* instance = [] {
        pthread_atfork(nullptr, nullptr, markForked);
        return new Pool;  // outlives every static object that may still use it
    }();
    return *instance;
}

// A forked child must not touch its parent's sessions (closing a PostgreSQL one would end the
// parent's too): it forgets them and opens its own.
void forgetInheritedLocked(Pool& p) {
    if (!g_forked.load() || p.pid == getpid())
        return;
    for (auto& pooled : p.idle) {
        (void)pooled->connection.release();
    }
    p.idle.clear();
    p.busy = 0;
    p.opened = 0;
    p.pid = getpid();
    p.generation++;
}

std::unique_ptr<Connection> openWith(const NxDbSettings& settings, std::string* error) {
    if (settings.backend == NxDbSettings::Backend::PostgreSQL)
        return openPostgres(settings, error);
    return openSqlite(settings, error);
}

}  // namespace

std::unique_ptr<PooledConnection> borrowConnection(std::string* error) {
    Pool& p = pool();
    NxDbSettings settings;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        forgetInheritedLocked(p);
        if (!p.configured) {
            p.settings = CNX_DBOption::SettingsFromEnvironment();
            p.configured = true;
        }
        if (!p.settings.error.empty()) {
            *error = p.settings.error;
            return nullptr;
        }
        while (!p.idle.empty()) {
            std::unique_ptr<PooledConnection> pooled = std::move(p.idle.back());
            p.idle.pop_back();
            if (pooled->connection->broken())
                continue;  // server restarted: open a fresh one
            p.busy++;
            return pooled;
        }
        settings = p.settings;
        generation = p.generation;
    }
    auto pooled = std::make_unique<PooledConnection>();
    pooled->connection = openWith(settings, error);
    if (!pooled->connection)
        return nullptr;
    pooled->generation = generation;
    std::lock_guard<std::mutex> lock(p.mutex);
    p.opened++;
    p.busy++;
    return pooled;
}

void returnConnection(std::unique_ptr<PooledConnection> pooled) {
    if (!pooled)
        return;
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (g_forked.load() && p.pid != getpid()) {
        (void)pooled->connection.release();
        return;
    }
    p.busy--;
    // A connection left inside a transaction would run the next borrower's statements in it.
    bool keep = pooled->generation == p.generation && !pooled->connection->broken() &&
                !pooled->connection->inTransaction() && p.idle.size() < kMaxIdle;
    if (keep)
        p.idle.push_back(std::move(pooled));
}

void configurePool(const NxDbSettings& settings) {
    std::vector<std::unique_ptr<PooledConnection>> closing;
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    forgetInheritedLocked(p);
    p.settings = settings;
    p.configured = true;
    p.generation++;
    closing.swap(p.idle);
}

void closePool() {
    std::vector<std::unique_ptr<PooledConnection>> closing;
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    forgetInheritedLocked(p);
    p.generation++;
    closing.swap(p.idle);
}

NxDbPoolStats poolStats() {
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    forgetInheritedLocked(p);
    NxDbPoolStats stats;
    stats.opened = p.opened;
    stats.idle = static_cast<int>(p.idle.size());
    stats.busy = p.busy;
    return stats;
}

NxDbSettings poolSettings() {
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.configured) {
        p.settings = CNX_DBOption::SettingsFromEnvironment();
        p.configured = true;
    }
    return p.settings;
}

}  // namespace nxsql
