// First: glib names a field "signals", which Qt's headers make a keyword.
#include <umockdev.h>

#include "ComPort.h"
#include "ConsoleFixture.h"
#include "FormSerialDevices.h"
#include "PortSettingsFile.h"

#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <algorithm>
#include <filesystem>
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
    // The test bed makes no by-id links; udev would, and moves them as the adapter comes back.
    const std::filesystem::path root = RootDir();
    std::filesystem::create_directories(root / "dev/serial/by-id");
    std::filesystem::remove(root.string() + ByIdName);
    std::filesystem::create_symlink("../../ttyUSB" + std::to_string(tty), root.string() + ByIdName);
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

  // The folder that stands for / in the test bed.
  std::string RootDir() const
  {
    gchar* root = umockdev_testbed_get_root_dir(Bed);
    const std::string path = root;
    g_free(root);
    return path;
  }

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

} // namespace
