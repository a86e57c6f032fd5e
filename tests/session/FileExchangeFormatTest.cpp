#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "platform/HttpRequest.h"
#include "platform/KnownHosts.h"
#include "platform/Settings.h"
#include "session/FileExchangeFormat.h"

namespace vantrel {
namespace {

TEST(FileExchangeFormat, GatewayURLPerPlatformAndPort) {
  EXPECT_EQ(GatewayFileURL(2, "gw.example", 443, "M1", "files/a.xml"),
            "https://gw.example/prx/000/http/localhost/tcs/global/M1/files/a.xml");
  EXPECT_EQ(GatewayFileURL(2, "gw.example", 8443, "M1", "x/client_sec/l3vpn/c.cab"),
            "https://gw.example:8443/prx/000/http/localhost/x/client_sec/l3vpn/c.cab");
  EXPECT_EQ(GatewayFileURL(1, "gw.example", 8443, "M1", "x/client_sec/l3vpn/c.cab"),
            "https://gw.example:8443/prx/000/http/localhost/vantrel_clients/1/x/client_sec/l3vpn/"
            "c.cab");
  // The port the page left out arrives as 0 and is written like any other non-443 port.
  EXPECT_EQ(GatewayFileURL(1, "gw", 0, "", "f"),
            "https://gw:0/prx/000/http/localhost/vantrel_clients/1/f");
}

TEST(FileExchangeFormat, GatewayPrefixIsCaseInsensitiveAndExact) {
  EXPECT_TRUE(IsGatewayFile("LOCAL://a"));
  EXPECT_TRUE(IsGatewayFile("Local://"));
  EXPECT_FALSE(IsGatewayFile("local:/a"));
  EXPECT_FALSE(IsGatewayFile("local:"));
  EXPECT_FALSE(IsGatewayFile("http://local://"));
}

TEST(FileExchangeFormat, OwnChunkDecodingOnlyForTransferCodingWithoutEncoding) {
  EXPECT_TRUE(NeedsOwnChunkDecoding({"Server: s", "transfer-coding:  chunked "}));
  EXPECT_FALSE(NeedsOwnChunkDecoding({"Transfer-Coding: CHUNKED", "Transfer-Encoding: chunked"}));
  EXPECT_FALSE(NeedsOwnChunkDecoding({"Transfer-Coding: gzip"}));
  EXPECT_FALSE(NeedsOwnChunkDecoding({"Transfer-Codings: chunked", "Junk line"}));
}

TEST(FileExchangeFormat, ChunkedBodyComplete) {
  std::string out = "kept:";
  EXPECT_EQ(DecodeChunkedBody("5\r\nhello\r\n1;ext=1\r\n \r\nA\r\n0123456789\r\n0\r\n\r\n", out),
            TChunkResult::Complete);
  EXPECT_EQ(out, "kept:hello 0123456789");
  out.clear();
  EXPECT_EQ(DecodeChunkedBody("0\r\n", out), TChunkResult::Complete);
  EXPECT_EQ(out, "");
}

TEST(FileExchangeFormat, ChunkedBodyTruncatedKeepsCompleteChunksOnly) {
  const char* cases[] = {"",
                         "5",
                         "5\r\nhel",
                         "5\r\nhello",
                         "5\r\nhello\r",
                         "3\r\nabc\r\n4\r\nde",
                         "3\r\nabc\r\n",
                         "3\r\nabc\r\nFFFFFFFF\r\nxyz\r\n"};
  for (const char* body : cases) {
    std::string out;
    EXPECT_EQ(DecodeChunkedBody(body, out), TChunkResult::Truncated) << body;
    EXPECT_TRUE(out.empty() || out == "abc") << body;
  }
}

TEST(FileExchangeFormat, ChunkedBodyMalformedStopsWithoutOverrun) {
  const char* cases[] = {"x\r\nabc\r\n",          "\r\nabc\r\n",     "-3\r\nabc\r\n",
                         "3\r\nabcd\r\n",         "3\r\nabcXY0\r\n", "3 4\r\nabc\r\n",
                         "FFFFFFFFFFFFFFFFF\r\n", "0x3\r\nabc\r\n"};
  for (const char* body : cases) {
    std::string out;
    EXPECT_EQ(DecodeChunkedBody(body, out), TChunkResult::Malformed) << body;
    EXPECT_EQ(out, "") << body;
  }
}

struct TProgressLog {
  std::vector<int> Percents;
  std::vector<std::pair<uint64_t, uint64_t>> Bytes;
  TBlockReader::TProgress Sink() {
    return [this](int p, uint64_t prmDone, uint64_t prmTotal) {
      Percents.push_back(p);
      Bytes.emplace_back(prmDone, prmTotal);
    };
  }
};

TEST(FileExchangeFormat, BlockReaderCutsExactBlocksAndAsksOnceMore) {
  std::ostringstream out;
  TProgressLog log;
  TBlockReader reader(out, log.Sink());
  reader.SetContentLength(2 * kFileBlockSize);
  std::string data(2 * kFileBlockSize, 'x');
  // Arbitrary network pieces must not change where blocks end.
  reader.Feed(data.data(), 100);
  reader.Feed(data.data() + 100, data.size() - 100);
  reader.Finish();
  EXPECT_EQ(reader.BlocksRead(), 3);  // two full blocks and the empty last read
  EXPECT_EQ(out.str(), data);
  EXPECT_EQ(log.Percents, std::vector<int>{50});
}

TEST(FileExchangeFormat, BlockReaderReportsEveryFiftiethBlock) {
  std::ostringstream out;
  TProgressLog log;
  TBlockReader reader(out, log.Sink());
  const size_t total = 101 * kFileBlockSize + 10;
  reader.SetContentLength(static_cast<int64_t>(total));
  std::string data(total, 'y');
  reader.Feed(data.data(), data.size());
  reader.Finish();
  EXPECT_EQ(reader.BlocksRead(), 102);
  EXPECT_EQ(reader.BytesRead(), total);
  // Blocks 0, 50 and 100: 1, 51 and 101 blocks of 101 and a bit.
  EXPECT_EQ(log.Percents, (std::vector<int>{0, 50, 99}));
  EXPECT_EQ(log.Bytes.back().first, 101 * kFileBlockSize);
  EXPECT_EQ(log.Bytes.back().second, total);
}

TEST(FileExchangeFormat, BlockReaderWithoutLengthOrWithLongerBody) {
  std::ostringstream out;
  TProgressLog log;
  TBlockReader noLength(out, log.Sink());
  noLength.Feed("abc", 3);
  noLength.Finish();
  EXPECT_TRUE(log.Percents.empty());

  // A server sending more than it announced never drives the progress past 100.
  TBlockReader longer(out, log.Sink());
  longer.SetContentLength(2);
  longer.Feed("abcdef", 6);
  longer.Finish();
  EXPECT_EQ(log.Percents, std::vector<int>{100});
}

TEST(KnownHosts, RemovesOnlyTheHostsLinesByteForByte) {
  const std::string content =
      "127.0.0.1 3389 aa:bb CN=x CN=x\n"
      "srv.example 3389 cc:dd CN=y CN=y\r\n"
      "127.0.0.10 3389 ee CN=z CN=z\n"
      "\n"
      "127.0.0.1\t50000 ff CN=w CN=w\r\n"
      "# 127.0.0.1 comment\n"
      "127.0.0.1 3390 no-final-newline";
  EXPECT_EQ(WithoutKnownHost(content, "127.0.0.1"),
            "srv.example 3389 cc:dd CN=y CN=y\r\n"
            "127.0.0.10 3389 ee CN=z CN=z\n"
            "\n"
            "# 127.0.0.1 comment\n");
  EXPECT_EQ(WithoutKnownHost("a 1\nb 2", "c"), "a 1\nb 2");
}

TEST(KnownHosts, FileIsRewrittenWithItsModeOrLeftAlone) {
  std::string path = FreeRdpKnownHostsPath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(RemoveKnownHost(path, "127.0.0.1"));  // missing file: nothing to do
  mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
  {
    std::ofstream f(path, std::ios::binary);
    f << "127.0.0.1 3389 aa\nkeep 1 bb";
  }
  chmod(path.c_str(), 0640);
  EXPECT_TRUE(RemoveKnownHost(path, "127.0.0.1"));
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "keep 1 bb");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_TRUE(RemoveKnownHost(path, "127.0.0.1"));
  EXPECT_FALSE(RemoveKnownHost("", "127.0.0.1"));
  std::remove(path.c_str());
}

}  // namespace
}  // namespace vantrel
