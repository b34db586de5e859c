// make_connection_log FILE MEGABYTES: writes a connection log of about that
// size as Morvane's text writer writes it (each line the text form of a
// trace entry, CR LF), for bench/report_log_speed.sh. Sessions of three
// connections follow each other every four minutes from 2000 on, in the
// local time of TZ, with a traffic line for every other session and now
// and then a line of another channel.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "basis/ConnectionLogLine.h"
#include "basis/DateTime.h"
#include "debug/TTraceEntry.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: make_connection_log FILE MEGABYTES\n", stderr);
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const long long size = std::atoll(argv[2]) * 1000000LL;
  const char* const names[] = {"dsl", "vpn-office", "mobile"};
  const std::string channel(CONNECTION_LOG_CHANNEL);
  int64_t micros = 946684800LL * 1000000;  // 2000-01-01 00:00 UTC
  long long written = 0;
  std::string lines;
  for (long long session = 0; written < size; ++session) {
    const std::string name = names[session % 3];
    const auto line = [&](const char* channel, const std::string& text, int64_t at) {
      lines += TTraceEntry(text, channel, 3, 0, 0.0, datetime::fromUnixMicros(at)).toString();
      lines += "\r\n";
    };
    line(channel.c_str(), openConnectionLine(name), micros + 17000);
    if (session % 10 == 0) line("morvane", "TMainForm.timerTimer: still polling", micros + 60000000);
    const int64_t end = micros + 180000000 + (session % 7) * 1000;
    if (session % 2 == 0) {
      line(channel.c_str(), trafficConnectionLine(name, 123456789 + session, 4567890 + session), end);
    }
    line(channel.c_str(), closeConnectionLine(name), end);
    micros += 240000000;
    if (lines.size() > (1 << 20)) {
      written += static_cast<long long>(std::fwrite(lines.data(), 1, lines.size(), out));
      lines.clear();
    }
  }
  std::fwrite(lines.data(), 1, lines.size(), out);
  return std::fclose(out) == 0 ? 0 : 1;
}
