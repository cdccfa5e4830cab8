// Calendars connected together: EDS is asked to open every calendar a command needs at once, and
// those that have not answered by a deadline are given up for the run. Opening a network calendar
// that has never been connected waits for its server, so one stalled account must not hold up the
// others, nor the run.
#pragma once

#include <libecal/libecal.h>

#include <map>
#include <string>
#include <vector>

#include "access/eds/budget.h"
#include "access/eds/glib_handles.h"

namespace tembra::eds {

struct Connection {
  Ref<ECalClient> client;  // none when the calendar could not be opened in time
  std::string failure;     // why not: EDS's words, or that it did not answer in time
};

class Connector {
 public:
  // Opens the calendars of the sources that were not asked for before, all at once, and waits on
  // this thread's main context until each has answered or the deadline has passed. Those still
  // waiting then are cancelled and stay without a client for the rest of the run.
  void connect(const std::vector<ESource*>& sources, Clock::time_point deadline);

  // The outcome for a calendar; none when it was never asked for.
  const Connection* find(const std::string& uid) const;

 private:
  struct Attempt {
    Connection connection;
    std::string title;
    bool answered = false;
    bool givenUp = false;
  };
  static void onConnected(GObject*, GAsyncResult* result, gpointer data);

  // Kept as long as the store: an answer that comes after its attempt was given up still finds it.
  std::map<std::string, Attempt> attempts_;
};

}  // namespace tembra::eds
