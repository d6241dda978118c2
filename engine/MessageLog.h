// The engine's messages: each one kept in a list, written as one line on
// standard error (unless the host turned echoing off) and appended to
// MMPrint's buffer for an embedding host.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Engine.h"

namespace vemora {

class MessageLog {
 public:
  void report(MessageKind kind, const std::string& name, const std::string& text);

  // How advisories reach standard error (they are kept in the list either way).
  void setAdvisoryEcho(AdvisoryEcho mode) { advisoryEcho = mode; }
  // A new note is being made: an advisory it gives counts one more note.
  void noteBegins() { ++noteSerial; }
  // With AdvisoryEcho::Summarized: one line for each distinct advisory held
  // back, with the notes that gave it; then they are forgotten.
  void printAdvisorySummary();

  // The score line messages are about from now on ("score.lua:12"), or empty;
  // or how to find it, asked only when a message is made.
  void setWhere(std::string place) {
    where = std::move(place);
    findWhere = nullptr;
  }
  void setWhere(std::function<std::string()> find) {
    where.clear();
    findWhere = std::move(find);
  }
  void setEcho(bool on) { echo = on; }

  // While a legacy function runs its lines wait: when it turns out to be a
  // score function that refused, the score error says it instead, and its
  // refusals are dropped.
  void holdLines() { holding = true; }
  void releaseLines(bool dropRefusals);

  const std::vector<Message>& messages() const { return kept; }
  void clear() { kept.clear(); }

 private:
  std::vector<Message> kept;
  std::string currentWhere() const { return findWhere ? findWhere() : where; }

  std::string where;
  std::function<std::string()> findWhere;
  bool echo = true;
  bool holding = false;
  std::vector<std::pair<MessageKind, std::string>> heldLines;

  struct Advisory {
    std::string name;
    std::string text;
    std::string firstWhere;
    long count = 0;
    long notes = 0;
    long lastSerial = -1;
  };
  void summarize(const std::string& name, const std::string& text, const std::string& place);
  AdvisoryEcho advisoryEcho = AdvisoryEcho::Each;
  long noteSerial = 0;
  std::vector<Advisory> advisories;  // in the order they first came
};

}  // namespace vemora
