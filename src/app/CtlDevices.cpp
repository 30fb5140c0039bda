#include "app/CtlDevices.h"

#include "app/CtlOutput.h"
#include "devices/SerialAdapters.h"

void TCtlDevices::Execute()
{
  const std::vector<TSerialAdapter> adapters = TSerialAdapters::List();
  if (adapters.empty())
    Output.Note("no USB serial adapter is present");
  for (const TSerialAdapter& a : adapters) {
    const std::string name = a.Vendor + (a.Vendor.empty() || a.Product.empty() ? "" : " ") + a.Product;
    Output.Result("device",
                  a.Node + ": " + (name.empty() ? "no name" : name) + ", " +
                      (a.Serial.empty() ? "no serial number" : "serial " + a.Serial) +
                      (a.UsbId.empty() ? "" : ", USB " + a.UsbId) + ", " +
                      (a.ById.empty() ? "no by-id name" : a.ById),
                  {{"node", a.Node}, {"by_id", a.ById}, {"vendor", a.Vendor}, {"product", a.Product},
                   {"serial", a.Serial}, {"usb_id", a.UsbId}});
  }
}
