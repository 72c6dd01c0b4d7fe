// The kernel side of pdsim gadget: a configfs gadget with one FunctionFS
// function, bound to a UDC while the device is on the bus.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/gadget.h"
#include "sim/sim_bus.h"
#include "sim/sim_config.h"
#include "sim/sim_device.h"

#if defined(__linux__)

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pdflash::sim {

namespace {

namespace fs = std::filesystem;

constexpr const char* kConfigfs = "/sys/kernel/config/usb_gadget";
constexpr const char* kUdcClass = "/sys/class/udc";

void Print(const std::string& line) {
  std::fputs(("pdsim gadget: " + line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

bool WriteAttribute(const std::string& path, const std::string& value, int& error) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) {
    error = errno;
    return false;
  }
  const ssize_t n = ::write(fd, value.data(), value.size());
  error = n < 0 ? errno : 0;
  ::close(fd);
  return n == static_cast<ssize_t>(value.size());
}

std::string Hex4(uint32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04x", v & 0xFFFF);
  return buf;
}

std::string PermissionHint() {
  return "run it as root (it creates a gadget in configfs and mounts FunctionFS)";
}

// The gadget in configfs, its FunctionFS mount and ep0. Every path it made is
// undone in reverse order when it ends.
class LinuxGadget final : public GadgetPort {
 public:
  ~LinuxGadget() override { Remove(); }

  bool Create(const std::string& udc, const std::string& product, std::string& error) {
    if (!fs::is_directory(kConfigfs)) {
      error = std::string(kConfigfs) +
              " is missing: load libcomposite (modprobe libcomposite) and mount configfs "
              "(mount -t configfs none /sys/kernel/config)";
      return false;
    }
    if (!PickUdc(udc, error)) return false;
    const std::string id = std::to_string(::getpid());
    name_ = "pdsim" + id;
    root_ = std::string(kConfigfs) + "/" + name_;
    if (!MakeDir(root_, error)) {
      if (errno == EACCES || errno == EPERM)
        error = "no permission to create a gadget in " + std::string(kConfigfs) + ": " +
                PermissionHint();
      return false;
    }
    const std::string strings = root_ + "/strings/0x409";
    const std::string config = root_ + "/configs/c.1";
    const std::string function = root_ + "/functions/ffs." + name_;
    int e = 0;
    if (!Write(root_ + "/bcdUSB", "0x0201", error) || !Write(root_ + "/bDeviceClass", "0x11", error) ||
        !MakeDir(strings, error) || !Write(strings + "/manufacturer", "pdsim", error) ||
        !Write(strings + "/product", product, error) ||
        !Write(strings + "/serialnumber", id, error) || !MakeDir(config, error) ||
        !MakeDir(config + "/strings/0x409", error) ||
        !Write(config + "/strings/0x409/configuration", "Billboard", error))
      return false;
    if (!MakeDir(function, error)) {
      error += " (is usb_f_fs loaded? modprobe usb_f_fs)";
      return false;
    }
    mount_ = "/tmp/pdsim-ffs-" + id;
    if (!MakeDir(mount_, error)) return false;
    if (::mount(name_.c_str(), mount_.c_str(), "functionfs", 0, nullptr) != 0) {
      e = errno;
      error = "cannot mount FunctionFS on " + mount_ + ": " + std::strerror(e);
      if (e == EPERM || e == EACCES) error += "; " + PermissionHint();
      return false;
    }
    mounted_ = true;
    ep0_ = ::open((mount_ + "/ep0").c_str(), O_RDWR);
    if (ep0_ < 0) {
      error = "cannot open " + mount_ + "/ep0: " + std::strerror(errno);
      return false;
    }
    const auto descriptors = FunctionFsDescriptors();
    const auto strings_blob = FunctionFsStrings();
    if (::write(ep0_, descriptors.data(), descriptors.size()) !=
            static_cast<ssize_t>(descriptors.size()) ||
        ::write(ep0_, strings_blob.data(), strings_blob.size()) !=
            static_cast<ssize_t>(strings_blob.size())) {
      error = std::string("FunctionFS refused the descriptors: ") + std::strerror(errno);
      return false;
    }
    const std::string link = config + "/ffs." + name_;
    if (::symlink(function.c_str(), link.c_str()) != 0) {
      error = "cannot link the function into the configuration: " + std::string(std::strerror(errno));
      return false;
    }
    made_.push_back(link);
    return true;
  }

  const std::string& Udc() const { return udc_; }
  int Ep0() const { return ep0_; }

  // One ep0 event; false when ep0 failed.
  bool ReadEvent(usb_functionfs_event& event) {
    const ssize_t n = ::read(ep0_, &event, sizeof event);
    if (n == static_cast<ssize_t>(sizeof event)) {
      if (event.type == FUNCTIONFS_SETUP) in_ = (event.u.setup.bRequestType & USB_DIR_IN) != 0;
      return true;
    }
    // EIDRM: the host or an unbind cancelled the request we were given.
    return n < 0 && (errno == EINTR || errno == EAGAIN || errno == EIDRM);
  }

  bool SendData(const uint8_t* data, size_t length) override {
    return ::write(ep0_, data, length) == static_cast<ssize_t>(length);
  }
  bool ReceiveData(uint8_t* data, size_t length) override {
    return ::read(ep0_, data, length) == static_cast<ssize_t>(length);
  }
  bool Acknowledge() override { return ::read(ep0_, nullptr, 0) == 0; }
  // FunctionFS stalls a request that is answered the wrong way round.
  void Stall() override {
    if (in_)
      (void)!::read(ep0_, nullptr, 0);
    else
      (void)!::write(ep0_, nullptr, 0);
  }

  bool Attach(const GadgetIds& ids, std::string& error) override {
    if (!Write(root_ + "/idVendor", Hex4(ids.vid), error) ||
        !Write(root_ + "/idProduct", Hex4(ids.pid), error) ||
        !Write(root_ + "/bcdDevice", Hex4(ids.bcd_device), error))
      return false;
    int e = 0;
    if (!WriteAttribute(root_ + "/UDC", udc_, e)) {
      error = "cannot bind to " + udc_ + ": " + std::strerror(e);
      if (e == EBUSY) error += " (another gadget uses it)";
      return false;
    }
    bound_ = true;
    return true;
  }

  void Detach() override {
    if (!bound_) return;
    int e = 0;
    WriteAttribute(root_ + "/UDC", "\n", e);
    bound_ = false;
  }

  void Remove() {
    Detach();
    if (ep0_ >= 0) ::close(ep0_);
    ep0_ = -1;
    if (mounted_) ::umount(mount_.c_str());
    mounted_ = false;
    // Links and directories in reverse order of making; configfs removes the
    // attributes with their directory.
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) ::remove(it->c_str());
    made_.clear();
  }

 private:
  bool PickUdc(const std::string& wanted, std::string& error) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kUdcClass, ec))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    if (names.empty()) {
      error = std::string("no USB device controller in ") + kUdcClass +
              " (a board's device port, or for a test on this machine: modprobe dummy_hcd)";
      return false;
    }
    if (wanted.empty()) {
      udc_ = names.front();
      return true;
    }
    if (std::find(names.begin(), names.end(), wanted) == names.end()) {
      error = "no controller '" + wanted + "' in " + kUdcClass;
      return false;
    }
    udc_ = wanted;
    return true;
  }

  bool MakeDir(const std::string& path, std::string& error) {
    if (::mkdir(path.c_str(), 0755) != 0) {
      const int e = errno;
      error = "cannot create " + path + ": " + std::strerror(e);
      errno = e;
      return false;
    }
    made_.push_back(path);
    return true;
  }

  static bool Write(const std::string& path, const std::string& value, std::string& error) {
    int e = 0;
    if (WriteAttribute(path, value, e)) return true;
    error = "cannot write " + path + ": " + std::strerror(e);
    return false;
  }

  std::string name_, root_, mount_, udc_;
  std::vector<std::string> made_;
  bool mounted_ = false;
  bool bound_ = false;
  bool in_ = false;
  int ep0_ = -1;
};

std::string Folder(const std::string& path) {
  const auto cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

}  // namespace

int RunGadget(const std::vector<std::string>& args, std::string& out, std::string& err) {
  std::string dir, udc;
  uint32_t device = 1;
  bool verbose = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out = GadgetUsage();
      return 0;
    }
    if (a == "--device" && i + 1 < args.size() && ParseHex(args[i + 1], device) && device) {
      ++i;
    } else if (a == "--verbose") {
      verbose = true;
    } else if (a == "--udc" && i + 1 < args.size()) {
      udc = args[++i];
    } else if (a.rfind("--", 0) != 0 && dir.empty()) {
      dir = a;
    } else {
      err = "pdsim gadget: unexpected '" + a + "'\n" + GadgetUsage();
      return 2;
    }
  }
  if (dir.empty()) {
    err = "pdsim gadget: missing DIR\n" + GadgetUsage();
    return 2;
  }

  RealClock clock;
  RealHost host;
  SimBus bus(dir, clock, Folder(host.ExePath()) + "Challenge.ini");
  bus.SetLogEnabled(false);
  std::string error;
  if (!bus.Load(error)) {
    err = "pdsim gadget: " + error + "\n";
    return 1;
  }
  if (device > bus.DeviceCount()) {
    err = "pdsim gadget: device.ini has no [" + DeviceSectionName(static_cast<int>(device)) + "]\n";
    return 1;
  }
  const size_t index = device - 1;

  // Signals arrive as reads on a descriptor, so that a data stage in progress
  // is finished before the gadget goes.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int signal_fd = ::signalfd(-1, &signals, SFD_CLOEXEC);

  LinuxGadget gadget;
  const std::string section = bus.Device(index).Config().section;
  if (!gadget.Create(udc, "Billboard " + section, error)) {
    gadget.Remove();
    err = "pdsim gadget: " + error + "\n";
    return 1;
  }
  GadgetServer server(bus, index, gadget, [](const std::string& line) { Print(line); });
  Print("board " + dir + " [" + section + "] on " + gadget.Udc());
  if (!server.Start(error)) {
    gadget.Remove();
    err = "pdsim gadget: " + error + "\n";
    return 1;
  }

  bool dirty = false;
  bool failed = false;
  for (;;) {
    pollfd fds[2] = {{gadget.Ep0(), POLLIN, 0}, {signal_fd, POLLIN, 0}};
    int timeout = server.PollDelayMs();
    if (dirty && timeout < 0) timeout = 300;
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) break;
    if (ready == 0 && dirty) {
      // The host paused: the board's files show what it did so far.
      if (!bus.Save(error)) Print("cannot save the board: " + error);
      dirty = false;
    }
    if (fds[0].revents & POLLIN) {
      usb_functionfs_event event{};
      if (!gadget.ReadEvent(event)) {
        Print(std::string("ep0 failed: ") + std::strerror(errno));
        failed = true;
        break;
      }
      if (verbose && event.type != FUNCTIONFS_SETUP) {
        static constexpr const char* kNames[] = {"bind",    "unbind",  "enable", "disable",
                                                 "setup",   "suspend", "resume"};
        Print(std::string("event ") + (event.type < 7 ? kNames[event.type] : "?"));
      }
      if (event.type == FUNCTIONFS_SETUP) {
        const usb_ctrlrequest& c = event.u.setup;
        SetupPacket s;
        s.bmRequestType = c.bRequestType;
        s.bRequest = c.bRequest;
        s.wValue = le16toh(c.wValue);
        s.wIndex = le16toh(c.wIndex);
        s.wLength = le16toh(c.wLength);
        if (verbose) {
          char line[64];
          std::snprintf(line, sizeof line, "setup %02X %02X %04X %04X %04X", s.bmRequestType,
                        s.bRequest, s.wValue, s.wIndex, s.wLength);
          Print(line);
        }
        server.Setup(s);
        dirty = true;
      }
    }
    server.Poll();
  }
  gadget.Remove();
  const bool saved = bus.Save(error);
  Print(std::to_string(server.Requests()) + " requests, " + std::to_string(server.Stalls()) +
        " stalled; gadget removed, board " + (saved ? "saved" : "not saved: " + error));
  if (signal_fd >= 0) ::close(signal_fd);
  return failed || !saved ? 1 : 0;
}

}  // namespace pdflash::sim

#else

namespace pdflash::sim {

int RunGadget(const std::vector<std::string>& args, std::string& out, std::string& err) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      out = GadgetUsage();
      return 0;
    }
  err = "pdsim gadget: needs Linux (configfs and FunctionFS)\n";
  return 1;
}

}  // namespace pdflash::sim

#endif
