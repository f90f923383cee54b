#include "platform/sys/activation_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/sys/sys.h"

namespace vt::sys {
namespace {

// A token is a short line; anything longer is not one of ours.
constexpr std::size_t kLongestToken = 4096;
// How long the running program waits for a connected second start to say its token.
constexpr int kTokenWaitMs = 1000;

bool AddressFor(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Waits for `fd` to be ready for `events` until `deadline`; false on timeout or error.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

ActivationRequest::~ActivationRequest() {
  // Closing is the answer: the second start goes on to its notice.
  ::close(connection_);
}

void ActivationRequest::Answer(const std::string& line) {
  // A few bytes into an empty socket buffer: a second start that no longer reads loses nothing.
  const std::string text = line + "\n";
  [[maybe_unused]] const auto sent = ::send(connection_, text.data(), text.size(), MSG_NOSIGNAL);
}

std::string ActivationChannel::PathFor(const std::string& marker) {
  std::string path = InstanceLock::PathFor(marker);
  path.replace(path.size() - std::strlen(".lock"), std::string::npos, ".sock");
  return path;
}

std::unique_ptr<ActivationChannel> ActivationChannel::Listen(const std::string& marker,
                                                             OnRequest on_request) {
  const std::string path = PathFor(marker);
  sockaddr_un address{};
  if (!AddressFor(path, address)) return nullptr;
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener < 0) return nullptr;
  ::unlink(path.c_str());
  int stop[2] = {-1, -1};
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(listener, 8) != 0 ||
      ::pipe2(stop, O_CLOEXEC) != 0) {
    ::close(listener);
    ::unlink(path.c_str());
    return nullptr;
  }
  std::unique_ptr<ActivationChannel> channel(
      new ActivationChannel(listener, stop[0], stop[1], path));
  channel->thread_ = std::thread(
      [raw = channel.get(), on_request = std::move(on_request)] { raw->Serve(on_request); });
  return channel;
}

ActivationChannel::ActivationChannel(int listener, int stop_read, int stop_write, std::string path)
    : listener_(listener), stop_read_(stop_read), stop_write_(stop_write), path_(std::move(path)) {}

ActivationChannel::~ActivationChannel() {
  if (thread_.joinable()) {
    const char stop = 1;
    [[maybe_unused]] const auto written = ::write(stop_write_, &stop, 1);
    thread_.join();
  }
  ::close(listener_);
  ::close(stop_read_);
  ::close(stop_write_);
  ::unlink(path_.c_str());
}

void ActivationChannel::Serve(OnRequest on_request) {
  for (;;) {
    pollfd waits[2] = {{stop_read_, POLLIN, 0}, {listener_, POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[0].revents != 0) return;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (connection < 0) continue;
    // The token ends with a newline; a caller that says nothing in time is let go.
    std::string token;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kTokenWaitMs);
    bool complete = false;
    while (!complete && token.size() < kLongestToken && WaitFor(connection, POLLIN, deadline)) {
      char chunk[256];
      const ssize_t got = ::read(connection, chunk, sizeof chunk);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) break;
      token.append(chunk, static_cast<std::size_t>(got));
      complete = token.find('\n') != std::string::npos;
    }
    if (!complete) {
      ::close(connection);
      continue;
    }
    token.resize(token.find('\n'));
    on_request(std::make_shared<ActivationRequest>(connection, std::move(token)));
  }
}

std::optional<std::string> RequestActivation(const std::string& marker, const std::string& token,
                                             int timeout_ms) {
  sockaddr_un address{};
  if (token.find('\n') != std::string::npos ||
      !AddressFor(ActivationChannel::PathFor(marker), address))
    return std::nullopt;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const std::string line = token + "\n";
  std::optional<std::string> answer;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
    // The running program answers, then closes its end once it has acted.
    std::string said;
    while (said.size() < kLongestToken && WaitFor(fd, POLLIN, deadline)) {
      char chunk[256];
      const ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      if (got == 0) {
        answer = said.substr(0, said.find('\n'));
        break;
      }
      said.append(chunk, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  return answer;
}

}  // namespace vt::sys
