// Calendars opened concurrently with e_cal_client_connect, their answers taken on the main
// context, which this thread iterates until they are in or the deadline has passed.
#include "access/eds/connecting.h"

#include <algorithm>

namespace tembra::eds {
namespace {

// Connecting with a positive wait always waits it out; this asks EDS not to wait at all.
constexpr guint32 kNoWait = static_cast<guint32>(-1);
// Cancelled calls end at once; this bounds the wait for them should one not.
constexpr std::chrono::seconds kGrace{2};

const std::string kNoAnswerBefore = "日历「";
const std::string kNoAnswerAfter = "」没有在限定时间内应答";

// Iterates the main context until `done` holds or the deadline passes.
template <class Done>
void iterateUntil(Clock::time_point deadline, Done done) {
  GMainContext* context = g_main_context_default();
  bool passed = false;
  const std::unique_ptr<GSource, void (*)(GSource*)> timer(
      g_timeout_source_new(static_cast<guint>(millisecondsUntil(deadline))), [](GSource* source) {
        g_source_destroy(source);
        g_source_unref(source);
      });
  g_source_set_callback(
      timer.get(),
      +[](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &passed, nullptr);
  g_source_attach(timer.get(), context);
  while (!done() && !passed)
    g_main_context_iteration(context, TRUE);
}

}  // namespace

void Connector::onConnected(GObject*, GAsyncResult* result, gpointer data) {
  auto& attempt = *static_cast<Attempt*>(data);
  Ref<ECalClient> client;
  const auto failure = failureOf([&](GError** error) {
    client.reset(reinterpret_cast<ECalClient*>(e_cal_client_connect_finish(result, error)));
    return client != nullptr;
  });
  attempt.answered = true;
  if (attempt.givenUp)
    return;  // the run has gone on without it
  attempt.connection.client = std::move(client);
  if (failure)
    attempt.connection.failure = *failure;
}

void Connector::connect(const std::vector<ESource*>& sources, Clock::time_point deadline) {
  const Ref<GCancellable> cancellable(g_cancellable_new());
  std::vector<Attempt*> waiting;
  for (ESource* source : sources) {
    const auto [entry, added] = attempts_.try_emplace(e_source_get_uid(source));
    if (!added)
      continue;
    const char* title = e_source_get_display_name(source);
    entry->second.title = title ? title : "";
    waiting.push_back(&entry->second);
    e_cal_client_connect(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, kNoWait, cancellable.get(),
                         onConnected, &entry->second);
  }
  const auto allAnswered = [&] {
    return std::all_of(waiting.begin(), waiting.end(), [](Attempt* a) { return a->answered; });
  };
  iterateUntil(deadline, allAnswered);
  if (allAnswered())
    return;
  std::vector<Attempt*> late;
  for (Attempt* attempt : waiting) {
    if (!attempt->answered)
      late.push_back(attempt);
  }
  g_cancellable_cancel(cancellable.get());
  iterateUntil(Clock::now() + kGrace, allAnswered);
  for (Attempt* attempt : late) {
    attempt->givenUp = true;
    attempt->connection.client.reset();
    attempt->connection.failure = kNoAnswerBefore + attempt->title + kNoAnswerAfter;
  }
}

const Connection* Connector::find(const std::string& uid) const {
  const auto found = attempts_.find(uid);
  return found == attempts_.end() ? nullptr : &found->second.connection;
}

}  // namespace tembra::eds
