// The machines the benchmarks run on: many devices, few of them with the requested ID.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "DeviceSimulator.h"

// The hardware ID the benchmarks install for (as given on the command line).
inline const std::u16string kBenchHardwareId = u"USB\\VID_1234&PID_5678";

// `devices` devices, four in five present. Each has a typical two-entry PCI hardware-ID list;
// one in a hundred has a list longer than the walk's first buffer, so that it is renewed.
// Whatever the size, five devices carry kBenchHardwareId: four absent ones spread over the
// machine, which the reinstall marking reaches, and one present device at the very end, so that
// the lookup of present devices walks the whole machine before it finds it.
DevSim::Machine MakeBenchMachine(size_t devices, const std::filesystem::path& driverStore);

// A folder of the benchmark's own with a small INF in it; removed when the object goes.
class BenchFolder {
  public:
    BenchFolder();
    ~BenchFolder();
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path Store() const { return path_ / "DriverStore"; }
    const std::u16string& Inf() const { return inf_; }

  private:
    std::filesystem::path path_;
    std::u16string inf_;
};
