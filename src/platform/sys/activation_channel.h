// A second start asks the running program to bring its window forward: over a socket of the
// user's own beside the instance lock, it hands over its activation token and waits until the
// running program has acted on it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace vt::sys {

// One second start's request. The second start waits until this is gone (answered or dropped).
class ActivationRequest {
 public:
  ActivationRequest(int connection, std::string token)
      : connection_(connection), token_(std::move(token)) {}
  ~ActivationRequest();
  ActivationRequest(const ActivationRequest&) = delete;
  ActivationRequest& operator=(const ActivationRequest&) = delete;
  // The launcher's token (DESKTOP_STARTUP_ID or XDG_ACTIVATION_TOKEN) or "_TIME<x server time>".
  const std::string& Token() const { return token_; }
  // Tells the second start one line (what its notice needs of the running window).
  void Answer(const std::string& line);

 private:
  int connection_;
  std::string token_;
};

class ActivationChannel {
 public:
  using OnRequest = std::function<void(std::shared_ptr<ActivationRequest>)>;
  // Listens at "<marker>.sock" beside the lock (which the caller holds, so a socket found there
  // is a crashed run's). `on_request` runs on the channel's own thread. Null when the socket
  // cannot be made: second starts then only show their notice.
  static std::unique_ptr<ActivationChannel> Listen(const std::string& marker, OnRequest on_request);
  ~ActivationChannel();
  ActivationChannel(const ActivationChannel&) = delete;
  ActivationChannel& operator=(const ActivationChannel&) = delete;

  static std::string PathFor(const std::string& marker);

 private:
  ActivationChannel(int listener, int stop_read, int stop_write, std::string path);
  void Serve(OnRequest on_request);

  int listener_;
  int stop_read_;
  int stop_write_;
  std::string path_;
  std::thread thread_;
};

// Hands `token` to the running program and waits up to `timeout_ms` for it to act. Gives the line
// it answered (empty when it only let go); none when no program listens or it did not answer in
// time.
std::optional<std::string> RequestActivation(const std::string& marker, const std::string& token,
                                             int timeout_ms);

}  // namespace vt::sys
