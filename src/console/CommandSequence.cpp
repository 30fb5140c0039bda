#include "console/CommandSequence.h"

#include "console/Form1.h"
#include "console/OperatorExtras.h"
#include "protocol/CommonDatas.h"
#include "serial/Exchange.h"

#include <QTimer>

#include <chrono>

void TCommandSequence::Send(const char* heading, const std::function<bool()>& prepare,
                            const std::function<void(bool)>& closing, const TStart& start)
{
  if (Form.OperatorExtras().RefuseWhileLineTaken())
    return;
  Form.AppendLog("", TLogColour::Blue, false);
  Form.AppendLog(heading, TLogColour::Blue, false);
  if (!prepare())
    return;
  Poll.stop();
  Form.Datas->StatusPolling = false;
  const bool ok = start ? start() : Form.Exchange->StartExchange();
  Form.Exchange->EventRWAllowed.WaitFor(std::chrono::milliseconds(TCommonDatas::AnswerTimeout));
  if (closing)
    closing(ok);
  Poll.start();
}

void TCommandSequence::SendOvertaking(const char* heading, const std::function<bool()>& prepare,
                                      const std::function<void(bool)>& closing, const TStart& start)
{
  Form.OperatorExtras().FreeLine(); // a scan or a sequence has the line: it ends first
  Send(
      heading,
      [&] {
        Form.Exchange->Overtake();
        return prepare();
      },
      closing, start);
}
