// First: glib names a field "signals", which Qt's headers make a keyword.
#include <umockdev.h>

#include "ChildProcess.h"
#include "ConsoleFixture.h"
#include "dialogs/FormSerialDevices.h"
#include "serial/ComPort.h"
#include "serial/PortSettingsFile.h"

#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <tuple>

namespace {

using namespace std::chrono_literals;

// What tells one kind of USB serial adapter from another, as udev sees it.
struct TAdapter {
  std::string Vendor, Product, Maker, Model, Serial, Driver, Node, Major;
};
const TAdapter Ftdi{"0403", "6001", "FTDI", "FT232R USB UART", "A10K5XYZ", "ftdi_sio", "ttyUSB", "188"};
const TAdapter Ch340{"1a86", "7523", "QinHeng Electronics", "USB Serial", "", "ch341-uart", "ttyUSB", "188"};
const TAdapter Acm{"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno", "75830333238351F0E1C1", "cdc_acm", "ttyACM",
                   "166"};

// An adapter on USB as udev describes it, plugged in at USB port 1-<port> as its node number <tty>;
// the node is a pty whose other end the test bed keeps. Written for the FTDI one, then made the kind asked for.
std::string AdapterRecord(const TAdapter& adapter, int port, int tty)
{
  std::string record = R"(P: /devices/pci0000:00/0000:00:14.0/usb1/1-1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
E: ID_VENDOR_ID=0403
E: ID_MODEL_ID=6001
A: idVendor=0403
A: idProduct=6001
A: manufacturer=FTDI
A: product=FT232R USB UART
A: serial=A10K5XYZ

P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0
E: SUBSYSTEM=usb
E: DEVTYPE=usb_interface
E: DRIVER=ftdi_sio

P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0
N: ttyUSB0
E: SUBSYSTEM=tty
E: DEVNAME=/dev/ttyUSB0
E: MAJOR=188
E: MINOR=0
E: ID_VENDOR_ID=0403
E: ID_MODEL_ID=6001
E: ID_VENDOR=FTDI
E: ID_MODEL=FT232R_USB_UART
E: ID_SERIAL_SHORT=A10K5XYZ
A: dev=188:0
)";
  std::string model = adapter.Model;
  std::replace(model.begin(), model.end(), ' ', '_');
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"1-1", "1-" + std::to_string(port)},
                                 {"ttyUSB0", adapter.Node + std::to_string(tty)},
                                 {"188:0", adapter.Major + ":" + std::to_string(tty)},
                                 {"MAJOR=188", "MAJOR=" + adapter.Major},
                                 {"MINOR=0", "MINOR=" + std::to_string(tty)},
                                 {"0403", adapter.Vendor},
                                 {"6001", adapter.Product},
                                 {"FT232R USB UART", adapter.Model},
                                 {"FT232R_USB_UART", model},
                                 {"A10K5XYZ", adapter.Serial},
                                 {"ftdi_sio", adapter.Driver},
                                 {"FTDI", adapter.Maker}})
    for (std::size_t at = record.find(from); at != std::string::npos; at = record.find(from, at + to.size()))
      record.replace(at, from.size(), to);
  return record;
}
const std::string ByIdName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0";
const std::string UsbPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-";

// The folder that stands for / in the test bed.
std::string RootDir(UMockdevTestbed* bed)
{
  gchar* root = umockdev_testbed_get_root_dir(bed);
  const std::string path = root;
  g_free(root);
  return path;
}

// The test bed makes no by-id links; udev would, and moves them as the adapter comes back.
void LinkById(UMockdevTestbed* bed, int tty)
{
  const std::filesystem::path root = RootDir(bed);
  std::filesystem::create_directories(root / "dev/serial/by-id");
  std::filesystem::remove(root.string() + ByIdName);
  std::filesystem::create_symlink("../../ttyUSB" + std::to_string(tty), root.string() + ByIdName);
}

// The real window on a test bed that holds one USB adapter with the simulated controller behind it.
// The settings file names port 5, which no link names yet.
class UsbAdapterTest : public WindowTest {
protected:
  void SetUp() override
  {
    WindowTest::SetUp();
    Bed = umockdev_testbed_new();
    Plug(1, 0);
    ASSERT_TRUE(TPortSettingsFile(Data.Path() + "/portp.dat").Save(5));
    StartWindow();
  }

  // The adapter comes in at USB port 1-<port> as ttyUSB<tty>, the controller behind it.
  void Plug(int port, int tty)
  {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(Bed, AdapterRecord(Ftdi, port, tty).c_str(), &error))
        << (error ? error->message : "");
    const std::string node = "/dev/ttyUSB" + std::to_string(tty);
    Sim.Adopt(umockdev_testbed_get_dev_fd(Bed, node.c_str()));
    LinkById(Bed, tty);
    umockdev_testbed_uevent(Bed, (UsbPath + std::to_string(port) + "/1-" + std::to_string(port) + ":1.0/" + TtyPath(tty)).c_str(), "add");
  }

  // The adapter pulled out: the tty goes, then the whole USB device, and the line is dead.
  void Unplug(int port, int tty)
  {
    const std::string usb = UsbPath + std::to_string(port);
    umockdev_testbed_uevent(Bed, (usb + "/1-" + std::to_string(port) + ":1.0/" + TtyPath(tty)).c_str(), "remove");
    umockdev_testbed_remove_device(Bed, usb.c_str());
    Sim.Close();
    std::filesystem::remove(RootDir() + ByIdName);
  }

  std::string RootDir() const { return ::RootDir(Bed); }

  static std::string TtyPath(int tty)
  {
    return "ttyUSB" + std::to_string(tty) + "/tty/ttyUSB" + std::to_string(tty);
  }

  // Opens the window, picks the adapter and assigns it to port 5, the port in force.
  TFormSerialDevices* AssignAdapter()
  {
    Form->MmSerialDevicesClick();
    TFormSerialDevices* window = Form->FormSerialDevices;
    window->findChild<QTableWidget*>("TableDevices")->selectRow(0);
    window->findChild<QSpinBox*>("SpinPortNumber")->setValue(5);
    QTest::mouseClick(window->findChild<QPushButton*>("BtnAssign"), Qt::LeftButton);
    return window;
  }

  void TearDown() override
  {
    Form.reset(); // before the line it talks to
    Sim.Close();
    g_object_unref(Bed);
    WindowTest::TearDown();
  }

  std::vector<std::string> Row(const char* table, int row) const
  {
    std::vector<std::string> cells;
    const auto* widget = Form->FormSerialDevices->findChild<QTableWidget*>(table);
    for (int column = 0; column < widget->columnCount(); ++column)
      cells.push_back(widget->item(row, column) ? widget->item(row, column)->text().toStdString() : "");
    return cells;
  }

  UMockdevTestbed* Bed = nullptr;
  TSimLine Sim{{0}};
};

TEST_F(UsbAdapterTest, ListedAssignedByItsStableNameAndDriven)
{
  EXPECT_EQ(MessageHeads(), std::vector<std::string>{"Open port error"}) << "port 5 names no device yet";
  Form->MmSerialDevicesClick();
  TFormSerialDevices* window = Form->FormSerialDevices;
  ASSERT_EQ(window->findChild<QTableWidget*>("TableDevices")->rowCount(), 1);
  EXPECT_EQ(Row("TableDevices", 0), (std::vector<std::string>{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K5XYZ",
                                                              "0403:6001", ByIdName}));
  // Every column shows its whole text, the long stable name too; the window widens for them as far
  // as the screen lets it, and scrolls beyond.
  const auto* table = window->findChild<QTableWidget*>("TableDevices");
  const auto textWidth = [&](int column) {
    return table->fontMetrics().horizontalAdvance(table->item(0, column)->text());
  };
  ASSERT_TRUE(WaitFor([&] { return table->columnWidth(5) >= textWidth(5); }))
      << table->columnWidth(5) << " for " << textWidth(5);
  for (int column = 0; column < table->columnCount(); ++column)
    EXPECT_GE(table->columnWidth(column), textWidth(column)) << column;
  EXPECT_TRUE(table->horizontalHeader()->length() <= table->viewport()->width() ||
              window->width() == window->screen()->availableGeometry().width());

  AssignAdapter();
  EXPECT_EQ(std::filesystem::read_symlink(Data.Path() + "/COM5").string(), ByIdName);
  EXPECT_EQ(Label("PanelPortProp"), "port opened:   Com5;  8 bit, stop-bit: 1;  parity: none;  ")
      << "the port in force opened on the adapter";
  EXPECT_EQ(Row("TablePorts", 0), (std::vector<std::string>{"5", ByIdName, "yes", "open"}));

  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 10s))
      << ::testing::PrintToString(LogLines()) << Sim.FramesReceived();

  // Removing the assignment of the port in force closes it first and takes the link away.
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return !PollTimerActive(); }, 10s));
  QTest::mouseClick(window->findChild<QPushButton*>("BtnRemoveLink"), Qt::LeftButton);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Data.Path() + "/COM5")));
  EXPECT_EQ(Label("PanelPortProp"), "");
  EXPECT_EQ(window->findChild<QTableWidget*>("TablePorts")->rowCount(), 0);
}

// Every kind of adapter is listed with what udev knows of it; only the one with a by-id link in the
// test bed has a stable name there.
TEST_F(UsbAdapterTest, ListsEveryKindOfAdapter)
{
  for (const auto& [adapter, port, tty] : {std::tuple{Ch340, 3, 1}, std::tuple{Acm, 4, 0}}) {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(Bed, AdapterRecord(adapter, port, tty).c_str(), &error));
  }
  Form->MmSerialDevicesClick();
  std::set<std::vector<std::string>> rows;
  for (int row = 0; row < Form->FormSerialDevices->findChild<QTableWidget*>("TableDevices")->rowCount(); ++row)
    rows.insert(Row("TableDevices", row));
  EXPECT_EQ(rows, (std::set<std::vector<std::string>>{
                      {"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K5XYZ", "0403:6001", ByIdName},
                      {"/dev/ttyUSB1", "USB Serial", "QinHeng Electronics", "", "1a86:7523", ""},
                      {"/dev/ttyACM0", "Arduino Uno", "Arduino (www.arduino.cc)", "75830333238351F0E1C1", "2341:0043", ""}}));
}

// Unplugged while polling: the poll stops on the dead line, the list follows; re-plugged (as the
// next ttyUSB, at another USB port): nothing restarts by itself, and "Open port" works at once.
TEST_F(UsbAdapterTest, UnplugWhilePollingThenReplugAndOpen)
{
  TFormSerialDevices* window = AssignAdapter();
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 10s));

  Unplug(1, 0);
  ASSERT_TRUE(WaitFor([&] { return !PollTimerActive(); }, 10s)) << ::testing::PrintToString(LogLines());
  const std::vector<std::string> log = LogLines();
  EXPECT_TRUE(std::find(log.begin(), log.end(), "Port connection error") != log.end() ||
              std::find(log.begin(), log.end(), "Stop") != log.end());
  EXPECT_FALSE(Form->ComPort->IsOpen());
  EXPECT_EQ(Form->ComPort->ReadThread, nullptr) << "no receive thread left to spin on the dead line";
  // The reopen found the link dangling, said so, and did not fall back to /dev/ttyS4.
  EXPECT_NE(std::find(log.begin(), log.end(),
                      Data.Path() + "/COM5 links to " + ByIdName +
                          ", which is not there: the adapter is unplugged, or the link points at nothing."),
            log.end())
      << ::testing::PrintToString(log);
  ASSERT_TRUE(WaitFor([&] { return window->findChild<QTableWidget*>("TableDevices")->rowCount() == 0; }))
      << "the list follows the adapter out";
  EXPECT_EQ(Row("TablePorts", 0), (std::vector<std::string>{"5", ByIdName, "absent", ""}));

  Plug(2, 1);
  ASSERT_TRUE(WaitFor([&] { return window->findChild<QTableWidget*>("TableDevices")->rowCount() == 1; }));
  EXPECT_EQ(Row("TableDevices", 0).at(0), "/dev/ttyUSB1");
  EXPECT_FALSE(Form->ComPort->IsOpen()) << "motion never restarts by itself";
  const std::size_t before = Sim.FramesReceived();
  Click("BtnOpenPort");
  EXPECT_TRUE(Form->ComPort->IsOpen());
  Click("BtnStop");
  EXPECT_TRUE(Sim.WaitForFrames(before + 1, 5s)) << "the same link finds the adapter again";
}

// The time every JSON object carries changes from run to run.
std::string WithoutTimes(std::string text)
{
  const std::string key = R"(,"time":")";
  for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
    text.erase(at, text.find('"', at + key.size()) + 1 - at);
  return text;
}

// ozmetctl in the same test bed: it finds the adapters through udev as the window does, and names one
// by its serial number or its by-id name, whatever ttyUSB number it got. Behind the FTDI adapter sits
// the simulated controller.
class CtlAdapterTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    Bed = umockdev_testbed_new();
    for (const auto& [adapter, port, tty] : {std::tuple{Ftdi, 1, 0}, std::tuple{Ch340, 3, 1}, std::tuple{Acm, 4, 0}}) {
      GError* error = nullptr;
      ASSERT_TRUE(umockdev_testbed_add_from_string(Bed, AdapterRecord(adapter, port, tty).c_str(), &error))
          << (error ? error->message : "");
    }
    Sim.Adopt(umockdev_testbed_get_dev_fd(Bed, "/dev/ttyUSB0"));
    LinkById(Bed, 0);
  }

  void TearDown() override
  {
    Sim.Close();
    g_object_unref(Bed);
  }

  struct TRun {
    std::optional<int> Exit;
    std::string Out, Err;
  };
  // The child inherits the test bed with the environment (UMOCKDEV_DIR and the preloaded library).
  static TRun Ctl(const std::vector<std::string>& arguments)
  {
    TChildProcess ctl(OZMETCTL_PATH, arguments);
    const std::optional<int> exit = ctl.WaitForExit(10s);
    for (int stream : {0, 1})
      ctl.WaitForOutput(stream, std::string(1, '\0'), 100ms); // read to the end
    return {exit, ctl.Stdout(), ctl.Stderr()};
  }

  UMockdevTestbed* Bed = nullptr;
  TSimLine Sim{{0}};
};

TEST_F(CtlAdapterTest, ListsAdaptersAndNamesOneBySerialNumberOrById)
{
  const std::string byId = ByIdName.substr(ByIdName.rfind('/') + 1);
  const struct {
    std::vector<std::string> Arguments;
    int Exit;
    std::string Out, Err; // the whole of standard output; a part of standard error
  } cases[] = {
      {{"devices"},
       0,
       "/dev/ttyACM0: Arduino (www.arduino.cc) Arduino Uno, serial 75830333238351F0E1C1, USB 2341:0043, no by-id name\n"
       "/dev/ttyUSB0: FTDI FT232R USB UART, serial A10K5XYZ, USB 0403:6001, " + ByIdName + "\n"
       "/dev/ttyUSB1: QinHeng Electronics USB Serial, no serial number, USB 1a86:7523, no by-id name\n",
       ""},
      {{"--json", "devices"},
       0,
       R"j({"kind":"device","node":"/dev/ttyACM0","by_id":"","vendor":"Arduino (www.arduino.cc)",)j"
       R"j("product":"Arduino Uno","serial":"75830333238351F0E1C1","usb_id":"2341:0043"})j"
       "\n"
       R"j({"kind":"device","node":"/dev/ttyUSB0","by_id":")j" + ByIdName +
           R"j(","vendor":"FTDI","product":"FT232R USB UART","serial":"A10K5XYZ","usb_id":"0403:6001"})j"
           "\n"
           R"j({"kind":"device","node":"/dev/ttyUSB1","by_id":"","vendor":"QinHeng Electronics",)j"
           R"j("product":"USB Serial","serial":"","usb_id":"1a86:7523"})j"
           "\n",
       ""},
      {{"--device", "serial:A10K5XYZ", "status"}, 0, "$00: 0 rpm, feedback on, forward, count 0, total 0\n", ""},
      {{"--device", "by-id:" + byId, "status"}, 0, "$00: 0 rpm, feedback on, forward, count 0, total 0\n", ""},
      // Not plugged in: the port would not open, and what is there is named.
      {{"--device", "serial:A10K5XY", "status"},
       3,
       "",
       "no USB serial adapter has the serial number A10K5XY; present: /dev/ttyACM0 (serial 75830333238351F0E1C1), "
       "/dev/ttyUSB0 (serial A10K5XYZ) and /dev/ttyUSB1 (no serial number)"},
      {{"--json", "--device", "by-id:usb-FTDI", "stop"},
       3,
       R"j({"kind":"error","message":"there is no /dev/serial/by-id/usb-FTDI; present: )j" + byId +
           R"j(","exit":3})j" "\n",
       "there is no /dev/serial/by-id/usb-FTDI; present: " + byId},
      // A name that can never be right is a refused command line.
      {{"--device", "serial:", "status"}, 2, "", "serial: needs the adapter's serial number"},
      {{"--device", "by-id:../../ttyUSB0", "status"}, 2, "", "is not a name in /dev/serial/by-id"},
  };
  for (const auto& c : cases) {
    const TRun run = Ctl(c.Arguments);
    const std::string line = ::testing::PrintToString(c.Arguments);
    EXPECT_EQ(run.Exit, c.Exit) << line << run.Err;
    EXPECT_EQ(WithoutTimes(run.Out), c.Out) << line;
    EXPECT_NE(run.Err.find(c.Err), std::string::npos) << line << run.Err;
  }
  EXPECT_EQ(Sim.FramesReceived(), 2u) << "each status by name reached the controller, nothing else did";
}

// Two adapters that share a serial number (cheap clones often do): never a guess between them.
TEST_F(CtlAdapterTest, RefusesASerialNumberTwoAdaptersShare)
{
  GError* error = nullptr;
  ASSERT_TRUE(umockdev_testbed_add_from_string(Bed, AdapterRecord(Ftdi, 2, 2).c_str(), &error));
  const TRun run = Ctl({"--device", "serial:A10K5XYZ", "status"});
  EXPECT_EQ(run.Exit, 3);
  EXPECT_NE(run.Err.find("the serial number A10K5XYZ is shared by /dev/ttyUSB0 (" + ByIdName +
                         ") and /dev/ttyUSB2: give the device itself, or by-id:NAME"),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(Sim.FramesReceived(), 0u);
}

} // namespace
