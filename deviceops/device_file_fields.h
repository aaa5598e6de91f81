// The device file exchanges' state in the main window: the download's plan
// and progress, the uploaded information file with the serial-number restore,
// and the format's attempts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvx {

struct DeviceFileFields {
  // ---- Download
  std::int32_t DownloadDataPackets = 0;
  std::int32_t DownloadPacketCount = 0;
  std::int32_t DownloadPacketIndex = 0;
  // The image size the plan was made for; every packet is checked against it.
  std::int64_t DownloadImageSize = 0;
  // The end packet has gone out (an end acknowledgement before it is a
  // fault); how often it went and how often the device began the transfer
  // again: both are bounded.
  bool DownloadEndSent = false;
  std::int32_t DownloadEndsSent = 0;
  std::int32_t DownloadRestarts = 0;

  // ---- Information file and serial number
  std::vector<std::uint8_t> InfoUploadBuffer;
  std::string NewVersionText;
  bool UploadActive = false;
  std::int32_t UploadPacketIndex = 0;
  bool UploadEndReceived = false;
  std::string InfoSer, InfoPcb, InfoBat;
  std::string SetSerialCommand;
  // Uploads of the information file and "SSER" commands in this run: both
  // are tried again only a few times.
  std::int32_t InfoUploads = 0;
  std::int32_t SetSerialTries = 0;

  // ---- Format
  std::int32_t FormatAttempts = 0;
};

}  // namespace mvx
