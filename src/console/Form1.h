#pragma once

#include "console/MainLayout.h"
#include "console/StartChoice.h"
#include "dialogs/DialogHost.h"
#include "motor/StatusDisplay.h"

#include <QMainWindow>
#include <QPointer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

class QAction;
class QHBoxLayout;
class QLabel;
class QTimer;
class TCommandSequence;
class TComPort;
class TCommonDatas;
class TExchange;
class TFormAdress;
class TFormByteLen;
class TFormPortName;
class TFormSerialDevices;
class TLangs;
class TLinkCountersView;
class TLogPanel;
class TLongTimer;
class TMotorPanel;
class TMotorParameters;
class TOperationPanel;
class TOperatorExtras;
class TOzmCommands;
class TPortButtons;
class TPortSettings;
class TPortStrip;
class TWorkPanel;
class TWorkParameters;

// The operator's window: three panels on the left (motor parameters, operation parameters, motion
// buttons with the live status), the operation log and the send memo on the right. Its handlers read
// what the operator typed and hand it to the console's logic; the shared objects live here.
class TForm1 : public QMainWindow, public TDialogHost {
  Q_OBJECT
public:
  static constexpr int CollapsedWidth = TMainLayout::CollapsedWidth;
  // The title; while a port is open, the device it leads to follows it.
  static constexpr const char* Caption = "Ozmet v.5.1.e";

  // dataFolder holds the settings file and the COM<N> links, as TDataFolder finds it.
  explicit TForm1(std::string dataFolder, QWidget* parent = nullptr, TStartChoice choice = {});
  ~TForm1() override;

  // The window as the rest of the system reaches it.
  void AppendLog(const std::string& text, TLogColour colour, bool bold) override;
  bool ScrollLogToEnd() override;
  void AppendMemo(const std::string& line) override;
  void ShowMotorState() override;
  void StatusDecoded() override;
  void StatusUnknown() override;
  void MotionSent(bool run, bool answered, long long msSinceEpoch) override;
  void StopAnswered(std::uint8_t address) override;
  void DisablePollTimer() override;
  void DisableStopMotorTimer() override;
  void AnswerReceived() override;
  void ShowMessage(const std::string& text) override;
  // Beside the port's settings and the link counters at the foot of the window.
  void AddToBottomLine(QWidget* widget);
  void SetPortPanelText(const std::string& text) override;
  void UpdatePortButtons(bool portOpen) override;
  void ShowPortDevice(const std::string& device, const std::string& toolTip) override;

  // The window as the dialogs reach it.
  QWidget& Window() override { return *this; }
  TComPort& Port() override { return *ComPort; }
  TCommonDatas& Record() override { return *Datas; }
  const TLangs& Texts() const override { return *Langs; }
  void SendBroadcast(std::uint8_t command, std::uint8_t value) override;
  void UseAddress(std::uint8_t address) override;

  void BtnOpenPortClick() override;
  void BtnClosePortClick() override;
  void BtnClearLogClick();
  void BtnMotorApplyClick();
  void BtnMotorCancelClick();
  void BtnWorkApplyClick();
  void BtnWorkCancelClick();
  void BtnRunClick();
  void BtnStopClick();
  void BtnRunRightClick();
  void BtnRunLeftClick();
  void BtnResetClick();
  void TmrStopMotorTimer();
  void TimerGetMotorStateTimer();
  void SpeedButton1Click();
  void Button1Click();
  void MmPortNumberClick();
  void mmPortParamClick();
  void MmSerialDevicesClick();
  void MmSetNewAddressClick();
  void LangBtnClick();
  void PortDataReceived(const std::uint8_t* data, std::int32_t count, std::uint32_t errors, std::uint32_t claim);
  void ShowDirection(std::uint8_t direction);
  void ResetRevCounters();
  // Every command starts from an empty send memo and command queue.
  void ClearMemoAndQueue();

  // The window's place, state and the operator's choices as the previous run left them.
  void RestoreSettings();

  // The close steps without the close event: the threads stopped and joined, the port released;
  // a worker that has not ended by the deadline is left behind (the process is ending).
  void CloseNow(std::chrono::steady_clock::time_point workerDeadline) { FormClose(workerDeadline); }
  bool IsClosed() const { return Closed; }

  bool DataTransferring() const override;

  // The controllers this window sent a Run to and no Stop since: Stop all and an end nobody chose reach them
  // wherever the panel's address has moved meanwhile.
  const std::set<std::uint8_t>& RunSentTo() const { return MayRunAt; }
  // A Stop to the panel's motor went out whole (its own or Stop all's): an end nobody chose need not send one.
  void MotorStopSent();

  bool Expanded() const { return IsExpanded; }
  int SavedWidth() const { return WidthBeforeCollapse; }

  // The shared objects, present from creation until the window closes.
  std::unique_ptr<TCommonDatas> Datas;
  std::unique_ptr<TLangs> Langs;
  std::unique_ptr<TComPort> ComPort;
  std::unique_ptr<TOzmCommands> OzmCommands;
  std::unique_ptr<TPortButtons> PortButtons;
  std::unique_ptr<TPortSettings> PortSettings;
  std::unique_ptr<TExchange> Exchange;
  std::unique_ptr<TMotorParameters> MotorParameters;
  std::unique_ptr<TWorkParameters> WorkParameters;

  // The dialogs: the two port dialogs free themselves when closed and are built again from the
  // menu; the address dialog only hides.
  QPointer<TFormByteLen> FormByteLen;
  QPointer<TFormPortName> FormPortName;
  QPointer<TFormSerialDevices> FormSerialDevices;
  TFormAdress* FormAdress = nullptr;

  // The panels, for the operator's extras that fill or read them.
  TMotorPanel& MotorPanel() const { return *PanelMotorData; }
  TWorkPanel& WorkPanel() const { return *PanelWorkData; }
  TLogPanel& LogPanel() const { return *LogColumn; }
  TOperatorExtras& OperatorExtras() const { return *Extras; }
  // The steps every command shares, for the commands of the operator's extras.
  TCommandSequence& CommandSteps() const { return *Commands; }
  // The panel's poll, which a test sequence stops while it has the line and starts again after.
  QTimer& PollTimer() const { return *TimerGetMotorState; }

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void FormCreate(const std::string& dataFolder, const TStartChoice& choice);
  void FormClose(std::chrono::steady_clock::time_point workerDeadline);
  void BuildWindow();
  void CreateExtras();
  void BuildTimers();
  template <class TDialog>
  void ShowDialog(QPointer<TDialog>& dialog);

  bool ApplyWorkPanel();
  // The address the motor panel shows when it is not the one in force (a bus row chosen, not yet applied).
  std::optional<std::uint8_t> PendingAddress() const;
  void SendDirection(const char* heading, std::uint8_t direction);
  static void Raise(QWidget& dialog);

  bool IsExpanded = true;
  int WidthBeforeCollapse = 0;
  bool Closed = false;
  std::set<std::uint8_t> MayRunAt;

  TMotorPanel* PanelMotorData = nullptr;
  TWorkPanel* PanelWorkData = nullptr;
  TOperationPanel* PanelOperation = nullptr;
  TPortStrip* PortStrip = nullptr;
  TLogPanel* LogColumn = nullptr;
  QLabel* PanelPortProp = nullptr;
  QHBoxLayout* BottomLine = nullptr;
  TLinkCountersView* LinkCounters = nullptr;
  TOperatorExtras* Extras = nullptr;

  QTimer* TimerGetMotorState = nullptr;
  TLongTimer* TmrStopMotor = nullptr;
  TStatusWatch StatusWatch;
  std::unique_ptr<TCommandSequence> Commands;
};
