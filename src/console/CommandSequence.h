#pragma once

#include <functional>

class QTimer;
class TForm1;

// The steps every command of the window shares: refused while a bus scan or a test sequence has the
// line; its heading in the log; the preparation (false ends it); the poll off; the exchange and the
// wait for it; the handler's closing steps with the exchange's start result; the poll on.
class TCommandSequence {
public:
  TCommandSequence(TForm1& form, QTimer& poll) : Form(form), Poll(poll) {}

  // `start` hands the exchange to the worker; the queued frames by default.
  using TStart = std::function<bool()>;
  void Send(const char* heading, const std::function<bool()>& prepare, const std::function<void(bool)>& closing = {},
            const TStart& start = {});
  // A Stop overtakes: a bus scan or a test sequence under way ends first, then the exchange under way
  // ends after the frame on the wire, and the Stop goes next.
  void SendOvertaking(const char* heading, const std::function<bool()>& prepare,
                      const std::function<void(bool)>& closing, const TStart& start = {});

private:
  TForm1& Form;
  QTimer& Poll;
};
