#include "ManualClock.h"

#include <algorithm>
#include <tuple>

class ManualClock::Handle final : public ScheduledCall {
public:
    explicit Handle(std::shared_ptr<Entry> entry)
        : m_entry(std::move(entry)) {}
    ~Handle() override { m_entry->cancelled = true; }
    bool isPending() const override { return m_entry->pending && !m_entry->cancelled; }

private:
    std::shared_ptr<Entry> m_entry;
};

ManualClock::ManualClock(QDateTime start)
    : m_start(start)
    , m_now(start) {}

std::unique_ptr<ScheduledCall> ManualClock::scheduleOnce(std::chrono::milliseconds interval, QObject* context,
                                                         std::function<void()> callback) {
    const auto clamped = std::max<std::chrono::milliseconds>(interval, std::chrono::milliseconds::zero());
    auto entry = std::make_shared<Entry>(
        Entry{m_elapsed + clamped.count(), interval, m_sequence++, context, std::move(callback)});
    m_entries.push_back(entry);
    return std::make_unique<Handle>(entry);
}

void ManualClock::advance(std::chrono::milliseconds by) {
    const qint64 target = m_elapsed + by.count();
    for (;;) {
        std::erase_if(m_entries, [](const auto& e) { return e->cancelled || !e->pending; });
        auto next = std::min_element(m_entries.begin(), m_entries.end(), [](const auto& a, const auto& b) {
            return std::tie(a->deadline, a->sequence) < std::tie(b->deadline, b->sequence);
        });
        if (next == m_entries.end() || (*next)->deadline > target)
            break;
        const std::shared_ptr<Entry> entry = *next;
        m_elapsed = std::max(m_elapsed, entry->deadline);
        m_now = m_start.addMSecs(m_elapsed);
        entry->pending = false;
        if (entry->context)
            entry->callback();
    }
    m_elapsed = target;
    m_now = m_start.addMSecs(m_elapsed);
}

int ManualClock::pendingCount() const {
    return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(),
                                          [](const auto& e) { return e->pending && !e->cancelled; }));
}

std::optional<std::chrono::milliseconds> ManualClock::lastPendingInterval() const {
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if ((*it)->pending && !(*it)->cancelled)
            return (*it)->interval;
    }
    return std::nullopt;
}
