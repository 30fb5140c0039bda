// The window's commands to the controller: the panels' Apply and Cancel, Run, Stop and the directions, each
// sent through the command sequence that holds the poll while its frames go.
#include "console/Form1.h"

#include "console/BusPoller.h"
#include "console/CommandSequence.h"
#include "console/LogPanel.h"
#include "console/LongTimer.h"
#include "console/MotorPanel.h"
#include "console/OperatorExtras.h"
#include "console/WorkPanel.h"
#include "motor/MotorParameters.h"
#include "motor/ValueReader.h"
#include "motor/WorkParameters.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/Exchange.h"

void TForm1::ClearMemoAndQueue()
{
  LogColumn->ClearMemo();
  Datas->ClearQueue();
}

void TForm1::SendBroadcast(std::uint8_t command, std::uint8_t value)
{
  ClearMemoAndQueue();
  OzmCommands->QueueBroadcastFrame(command, value);
  Exchange->StartExchange();
}

void TForm1::UseAddress(std::uint8_t address)
{
  TMotorFields fields = PanelMotorData->Fields();
  fields.Address = TOzmCommands::HexAddress(address);
  PanelMotorData->SetFields(fields);
  PanelMotorData->MarkEdited();
}

void TForm1::BtnMotorApplyClick()
{
  Commands->Send("Set motor parameters", [this] {
    ClearMemoAndQueue();
    TMotorFields fields = PanelMotorData->Fields();
    const std::uint8_t before = Datas->MotorAddress;
    if (!MotorParameters->ApplyMotorParameters(fields))
      return false;
    if (Datas->MotorAddress != before)
      ResetRevCounters(); // the counter shown is one controller's, never a sum across two
    PanelMotorData->SetMaxSpeedText(fields.MaxSpeed);
    PanelMotorData->SetMaxGearedSpeedText(MotorParameters->MaxGearedSpeedText());
    PanelMotorData->MarkClean();
    return true;
  });
}

void TForm1::BtnMotorCancelClick()
{
  PanelMotorData->SetFields(MotorParameters->StoredFields());
  PanelMotorData->SetMaxGearedSpeedText(MotorParameters->MaxGearedSpeedText());
  PanelMotorData->MarkClean();
}

std::optional<std::uint8_t> TForm1::PendingAddress() const
{
  const std::optional<std::int32_t> shown = ParseValue(PanelMotorData->Fields().Address);
  if (!shown || *shown < 0 || *shown > TMotorParameters::MaxAddress || *shown == Datas->MotorAddress)
    return std::nullopt;
  return static_cast<std::uint8_t>(*shown);
}

bool TForm1::ApplyWorkPanel()
{
  ClearMemoAndQueue();
  TWorkFields fields = PanelWorkData->Fields();
  if (!WorkParameters->ApplyOperationParameters(fields))
    return false;
  if (Datas->MotionType == 1)
    TmrStopMotor->SetInterval(Datas->MotionTimeMs);
  PanelWorkData->SetAppliedTexts(fields);
  PanelWorkData->MarkClean();
  return true;
}

void TForm1::BtnWorkApplyClick()
{
  Commands->Send("Set operation parameters", [this] { return ApplyWorkPanel(); });
}

void TForm1::BtnWorkCancelClick()
{
  PanelWorkData->SetFields(WorkParameters->StoredFields());
  PanelWorkData->MarkClean();
}

void TForm1::BtnRunClick()
{
  Commands->Send(
      "Set operation parameters and run motor",
      [this] {
        // A Run goes to the controller the panel shows, or not at all.
        if (const std::optional<std::uint8_t> pending = PendingAddress()) {
          AppendLog("Run refused: the motor panel shows " + TOzmCommands::HexAddress(*pending) +
                        ", not applied yet; the controller in use is " + TOzmCommands::HexAddress(Datas->MotorAddress) +
                        ". Apply the motor parameters first.",
                    TLogColour::Red, false);
          return false;
        }
        if (!ApplyWorkPanel())
          return false;
        OzmCommands->QueueFrame(CmdRun, 0);
        MayRunAt.insert(Datas->MotorAddress); // from the moment the Run may leave
        Extras->BusPoller().MayRunChanged(Datas->MotorAddress);
        return true;
      },
      [this](bool ok) {
        if (!ok)
          return;
        Datas->MotorStopped = false;
        if (PanelWorkData->Timed())
          TmrStopMotor->SetEnabled(true);
      });
}

void TForm1::BtnStopClick()
{
  Commands->SendOvertaking(
      "Motor stop",
      [this] {
        if (const std::optional<std::uint8_t> pending = PendingAddress())
          AppendLog("Stop to " + TOzmCommands::HexAddress(Datas->MotorAddress) +
                        ", the controller in use (the panel's " + TOzmCommands::HexAddress(*pending) +
                        " is not applied yet)",
                    TLogColour::Blue, false);
        TmrStopMotor->SetEnabled(false);
        ClearMemoAndQueue();
        OzmCommands->QueueFrame(CmdStop, 0);
        return true;
      },
      [this](bool ok) {
        if (ok)
          MotorStopSent();
      });
}

void TForm1::SendDirection(const char* heading, std::uint8_t direction)
{
  Commands->Send(heading, [this, direction] {
    PanelWorkData->SetDirection(direction);
    Datas->WorkDirection = direction;
    ClearMemoAndQueue();
    OzmCommands->QueueFrame(CmdSetDirection, direction);
    return true;
  });
}

void TForm1::BtnRunRightClick()
{
  SendDirection("Set forward direction", 0);
}

void TForm1::BtnRunLeftClick()
{
  SendDirection("Set backward Direction", 1);
}

void TForm1::TmrStopMotorTimer()
{
  BtnStopClick();
}

void TForm1::MotorStopSent()
{
  Datas->MotorStopped = true;
}
