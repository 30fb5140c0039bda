#pragma once

#include "ConsoleForms.h"
#include "ConsoleView.h"

#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QToolButton;
class TComPort;
class TCommonDatas;
class TExchange;
class TFormAdress;
class TFormByteLen;
class TFormPortName;
class TFormSerialDevices;
class TLangs;
class TLongTimer;
class TMotorParameters;
class TOzmCommands;
class TPortButtons;
class TPortSettings;
class TRadioGroup;
class TWorkParameters;

// The operator's window: three panels on the left (motor parameters, operation parameters, motion
// buttons with the live status), the operation log and the send memo on the right. Its handlers read
// what the operator typed and hand it to the console's logic; the shared objects live here.
class TForm1 : public QMainWindow, public TConsoleView {
  Q_OBJECT
public:
  static constexpr int CollapsedWidth = 406;
  // The title; while a port is open, the device it leads to follows it.
  static constexpr const char* Caption = "Ozmet v.5.1.e";

  // dataFolder holds the settings file and the COM<N> links, normally Data beside the program.
  explicit TForm1(std::string dataFolder, QWidget* parent = nullptr, TStartChoice choice = {});
  ~TForm1() override;

  // The window as the rest of the system reaches it.
  void AppendLog(const std::string& text, TLogColour colour, bool bold) override;
  bool ScrollLogToEnd() override;
  void AppendMemo(const std::string& line) override;
  void ShowMotorState() override;
  void DisablePollTimer() override;
  void DisableStopMotorTimer() override;
  void AnswerReceived() override;
  void ShowMessage(const std::string& text) override;
  void SetPortPanelText(const std::string& text) override;
  void UpdatePortButtons(bool portOpen) override;
  void ShowPortDevice(const std::string& device, const std::string& toolTip) override;

  void BtnOpenPortClick();
  void BtnClosePortClick();
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
  void PortDataReceived(const std::uint8_t* data, std::int32_t count, std::uint32_t errors);
  void ShowDirection(std::uint8_t direction);
  void ResetRevCounters();
  // Every command starts from an empty send memo and command queue.
  void ClearMemoAndQueue();

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

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void FormCreate(const std::string& dataFolder, const TStartChoice& choice);
  void ApplyStartChoice(const TStartChoice& choice);
  void FormClose();
  void BuildWindow();
  // A labelled edit field in a panel's grid; any change marks the panel edited.
  struct TFieldSpec {
    const char* LabelName;
    const char* Label;
    const char* EditName;
    const char* Text;
    int Row;
    int Column;
  };
  QLineEdit* AddField(QGridLayout* grid, QFrame* panel, const TFieldSpec& field);
  void MarkEditedOnChange(QLineEdit* edit, QFrame* panel);
  QPushButton* AddApplyCancel(QGridLayout* grid, QFrame* panel, const char* prefix, int row, void (TForm1::*apply)(),
                              void (TForm1::*cancel)());
  QWidget* BuildMotorPanel();
  QWidget* BuildWorkPanel();
  QWidget* BuildOperationPanel();
  QWidget* BuildPortStrip();
  QWidget* BuildLogColumn();
  void BuildMenu();
  void BuildTimers();
  void CreateDialogs();
  template <class TDialog>
  void ShowDialog(QPointer<TDialog>& dialog);

  void WriteHeading(const char* heading);
  // The steps every command shares: heading, preparation (false ends it), poll off, the exchange,
  // the wait for it, the handler's closing steps with the exchange's start result, poll on.
  void SendSequence(const char* heading, const std::function<bool()>& prepare,
                    const std::function<void(bool)>& closing = {});
  bool ApplyWorkPanel();
  void SetDirection(std::uint8_t direction);
  void MarkPanelEdited(QFrame* panel, QPushButton* cancel);
  void MarkPanelClean(QFrame* panel, QPushButton* cancel);

  bool IsExpanded = true;
  int WidthBeforeCollapse = 0;
  // The port the command line chose for this run only: the settings file keeps its own.
  std::optional<std::int32_t> PortForThisRun;
  bool Closed = false;
  TLogColour LogColour = TLogColour::Blue;
  bool LogHasLines = false;
  bool ScrollPending = false;

  QFrame* PanelMotorData = nullptr;
  QLineEdit* EditMotorAddress = nullptr;
  QLineEdit* EditMotorEncoder = nullptr;
  QLineEdit* EditMotorMaxSpeed = nullptr;
  QLineEdit* EditGearRatio = nullptr;
  QLabel* LblMaxGearedSpeed = nullptr;
  QPushButton* BtnMotorCancel = nullptr;

  QFrame* PanelWorkData = nullptr;
  TRadioGroup* rgrWorkDirection = nullptr;
  TRadioGroup* rgrWorkMove = nullptr;
  QLineEdit* EditWorkTime = nullptr;
  QLineEdit* EditWorkSpeed = nullptr;
  QLineEdit* EditWorkAccel = nullptr;
  QLineEdit* EditWorkDecel = nullptr;
  QPushButton* BtnWorkCancel = nullptr;

  QLabel* lblStabil = nullptr;
  QLabel* lblMotorRates = nullptr;
  QLabel* lblGearedRates = nullptr;
  QLabel* lblCurrentSpeed = nullptr;
  QLabel* lblDir = nullptr;
  QLabel* lblDir0 = nullptr;
  QLabel* lblDir1 = nullptr;

  QPushButton* BtnClosePort = nullptr;
  QPushButton* BtnOpenPort = nullptr;
  QLabel* PanelPortProp = nullptr;

  QWidget* LogColumn = nullptr;
  QPlainTextEdit* lbBufRead = nullptr;
  QPlainTextEdit* MemoSend = nullptr;

  QTimer* TimerGetMotorState = nullptr;
  TLongTimer* TmrStopMotor = nullptr;
};
