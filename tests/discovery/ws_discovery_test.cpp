#include "discovery/ws_discovery.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "discovery/ws_discovery_device.h"

namespace vantrel {
namespace {

const std::string kOurId = "urn:uuid:11111111-2222-4333-8444-555555555555";

// A ProbeMatches as a device writes it; the prefixes and the body's matches are the test's to choose.
std::string Envelope(const std::string& matches, const std::string& relatesTo = kOurId,
                     const std::string& soap = "SOAP-ENV", const std::string& wsa = "wsa", const std::string& d = "d") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + soap + ":Envelope xmlns:" + soap +
           "=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:" + wsa +
           "=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" xmlns:" + d +
           "=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><" + soap + ":Header><" + wsa +
           ":MessageID>urn:uuid:99999999-0000-4000-8000-000000000000</" + wsa + ":MessageID><" + wsa + ":RelatesTo>" +
           relatesTo + "</" + wsa + ":RelatesTo><" + wsa +
           ":Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</" + wsa + ":Action></" + soap +
           ":Header><" + soap + ":Body><" + d + ":ProbeMatches>" + matches + "</" + d + ":ProbeMatches></" + soap +
           ":Body></" + soap + ":Envelope>";
}

std::string Match(const std::string& endpoint, const std::string& scopes,
                  const std::string& xaddrs = "http://10.1.0.2/onvif/device_service", const std::string& wsa = "wsa",
                  const std::string& d = "d") {
    return "<" + d + ":ProbeMatch><" + wsa + ":EndpointReference><" + wsa + ":Address>" + endpoint + "</" + wsa +
           ":Address></" + wsa + ":EndpointReference><" + d + ":Types>dn:NetworkVideoTransmitter</" + d + ":Types><" +
           d + ":Scopes>" + scopes + "</" + d + ":Scopes><" + d + ":XAddrs>" + xaddrs + "</" + d + ":XAddrs><" + d +
           ":MetadataVersion>1</" + d + ":MetadataVersion></" + d + ":ProbeMatch>";
}

std::string Repeated(const std::string& text, std::size_t times) {
    std::string all;
    for (std::size_t i = 0; i < times; ++i) {
        all += text;
    }
    return all;
}

std::string WithDoctype(const std::string& doctype, std::string envelope) {
    return envelope.insert(envelope.find("?>") + 2, doctype);
}

WsDiscoveryReply Parse(const std::string& datagram) {
    // a heap copy of exactly the datagram's size lets AddressSanitizer catch any read past its end
    std::vector<unsigned char> exact(datagram.begin(), datagram.end());
    return ParseWsDiscoveryReply(exact.data(), exact.size(),
                                 [](std::string_view id) { return id == kOurId || id == "urn:uuid:second"; });
}

const std::string kScopes = "onvif://www.onvif.org/name/Gate onvif://www.onvif.org/hardware/IPC-1";

struct Case {
    const char* what;
    std::string datagram;
    WsDiscoveryVerdict verdict;
    std::size_t matches;
    std::size_t badMatches;
};

TEST(WsDiscoveryParse, MalformedAndHostileDatagrams) {
    const std::string one = Match("urn:uuid:a", kScopes);
    const std::string lol =
        "<!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;\">"
        "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;\">]>";
    const std::string valid = Envelope(one);
    const Case cases[] = {
        {"plain reply", valid, WsDiscoveryVerdict::kAccepted, 1, 0},
        {"other prefixes", Envelope(Match("urn:uuid:a", kScopes, "http://h/", "x", "q"), kOurId, "e", "x", "q"),
         WsDiscoveryVerdict::kAccepted, 1, 0},
        {"default namespaces",
         "<Envelope xmlns=\"http://www.w3.org/2003/05/soap-envelope\"><Header><RelatesTo "
         "xmlns=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\">" +
             kOurId +
             "</RelatesTo></Header><Body><ProbeMatches xmlns=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\">"
             "<ProbeMatch><EndpointReference xmlns=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\"><Address>"
             "urn:uuid:a</Address></EndpointReference></ProbeMatch></ProbeMatches></Body></Envelope>",
         WsDiscoveryVerdict::kAccepted, 1, 0},
        {"right prefixes, wrong namespace",
         "<s:Envelope xmlns:s=\"urn:other\" xmlns:wsa=\"urn:other\" xmlns:d=\"urn:other\"><s:Header><wsa:RelatesTo>" +
             kOurId + "</wsa:RelatesTo></s:Header><s:Body><d:ProbeMatches>" + one +
             "</d:ProbeMatches></s:Body></s:Envelope>",
         WsDiscoveryVerdict::kNotProbeMatches, 0, 0},
        {"three matches", Envelope(one + Match("urn:uuid:b", "") + Match("urn:uuid:c", kScopes)),
         WsDiscoveryVerdict::kAccepted, 3, 0},
        {"a match without endpoint", Envelope(one + Match(" \t", kScopes)), WsDiscoveryVerdict::kAccepted, 1, 1},
        {"only matches without endpoint", Envelope(Match("", kScopes)), WsDiscoveryVerdict::kNoMatch, 0, 1},
        {"no match at all", Envelope(""), WsDiscoveryVerdict::kNoMatch, 0, 0},
        {"too many matches", Envelope(Repeated(one, kMaxProbeMatchesPerDatagram + 3)), WsDiscoveryVerdict::kAccepted,
         kMaxProbeMatchesPerDatagram, 3},
        {"too many scopes", Envelope(one + Match("urn:uuid:b", Repeated("onvif://x ", kMaxScopesPerMatch + 1))),
         WsDiscoveryVerdict::kAccepted, 1, 1},
        {"unescaped ampersand", Envelope(Match("urn:uuid:a", "onvif://www.onvif.org/name/A&B")),
         WsDiscoveryVerdict::kNotXml, 0, 0},
        {"entity bomb", WithDoctype(lol, Envelope(Match("urn:uuid:&lol3;", kScopes))), WsDiscoveryVerdict::kNotXml, 0,
         0},
        {"external entity",
         WithDoctype("<!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>", Envelope(Match("&x;", kScopes))),
         WsDiscoveryVerdict::kNotXml, 0, 0},
        {"bare doctype", WithDoctype("<!DOCTYPE Envelope>", valid), WsDiscoveryVerdict::kNotXml, 0, 0},
        {"truncated", valid.substr(0, valid.size() - 20), WsDiscoveryVerdict::kNotXml, 0, 0},
        {"binary native reply", std::string("\xB3\x01\x00\x00", 4), WsDiscoveryVerdict::kNotXml, 0, 0},
        {"empty", "", WsDiscoveryVerdict::kNotXml, 0, 0},
        {"huge", Envelope(one + "<d:Pad>" + std::string(kMaxWsDiscoveryDatagram, 'x') + "</d:Pad>"),
         WsDiscoveryVerdict::kTooLarge, 0, 0},
        {"not ours", Envelope(one, "urn:uuid:someone-else"), WsDiscoveryVerdict::kNotOurs, 0, 0},
        {"no RelatesTo", Envelope(one, ""), WsDiscoveryVerdict::kNotOurs, 0, 0},
        {"RelatesTo among line breaks", Envelope(one, "\n\t " + kOurId + " \r\n"), WsDiscoveryVerdict::kAccepted, 1, 0},
        {"our MessageID reused as the device's own",
         [&] {
             std::string reused = valid;
             reused.replace(reused.find("urn:uuid:99999999"), kOurId.size(), kOurId);
             return reused;
         }(),
         WsDiscoveryVerdict::kAccepted, 1, 0},
        {"our MessageID only as the device's own",
         [&] {
             std::string reused = Envelope(one, "urn:uuid:someone-else");
             reused.replace(reused.find("urn:uuid:99999999"), kOurId.size(), kOurId);
             return reused;
         }(),
         WsDiscoveryVerdict::kNotOurs, 0, 0},
        {"a Probe, not an answer", BuildWsDiscoveryProbe(kOurId, WsDiscoveryType::kNetworkVideoTransmitter),
         WsDiscoveryVerdict::kNotProbeMatches, 0, 0},
        {"ProbeMatches outside the Body",
         "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
         "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><d:ProbeMatches/></s:Envelope>",
         WsDiscoveryVerdict::kNotProbeMatches, 0, 0},
        {"deep nesting inside a match",
         Envelope(Match("urn:uuid:a", kScopes) + Repeated("<d:X>", 2000) + Repeated("</d:X>", 2000)),
         WsDiscoveryVerdict::kAccepted, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const WsDiscoveryReply reply = Parse(c.datagram);
        EXPECT_EQ(DescribeVerdict(reply.verdict), std::string(DescribeVerdict(c.verdict)));
        EXPECT_EQ(reply.matches.size(), c.matches);
        EXPECT_EQ(reply.badMatches, c.badMatches);
    }
}

TEST(WsDiscoveryParse, ListsSplitOnAnyWhitespaceAndScopesGiveTheDeviceFields) {
    const std::string scopes =
        "\n\tonvif://www.onvif.org/type/video_encoder  onvif://www.onvif.org/Name/Front%20Door%E2%82%AC\r\n"
        "ONVIF://WWW.ONVIF.ORG/HARDWARE/DS-2CD%2F2143\tonvif://www.onvif.org/location/country/Norway/Oslo%20West"
        " onvif://www.onvif.org/name/second-name-ignored onvif://www.onvif.org/MAC/00-1A-2b-3C-4D-5E"
        " onvif://www.onvif.org/serial/SN%0A123 onvif://www.onvif.org/location/other";
    const WsDiscoveryReply reply =
        Parse(Envelope(Match("  urn:uuid:a\n", scopes, "http://10.1.0.2/onvif/device_service\n\t http://[fe80::1]/x")));
    ASSERT_EQ(reply.verdict, WsDiscoveryVerdict::kAccepted);
    ASSERT_EQ(reply.matches.size(), 1u);
    const OnvifMatch& match = reply.matches[0];
    EXPECT_EQ(reply.relatesTo, kOurId);
    EXPECT_EQ(match.endpoint, "urn:uuid:a");
    EXPECT_EQ(match.types, std::vector<std::string>{"dn:NetworkVideoTransmitter"});
    EXPECT_EQ(match.scopes.size(), 8u);
    EXPECT_EQ(match.xaddrs, (std::vector<std::string>{"http://10.1.0.2/onvif/device_service", "http://[fe80::1]/x"}));
    EXPECT_EQ(match.name, "Front Door\xE2\x82\xAC");
    EXPECT_EQ(match.model, "DS-2CD/2143");  // an encoded slash stays in the value
    EXPECT_EQ(match.location, "country/Norway/Oslo West");
    EXPECT_EQ(match.mac, "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(match.serial, "SN123");  // the line break is dropped
}

TEST(WsDiscoveryParse, DecodedValuesStayPrintableUtf8) {
    const std::string scopes =
        "onvif://www.onvif.org/name/%FF%C0%AFok%ED%A0%80%00%7F%25%2 onvif://www.onvif.org/hardware/%E2%82 "
        "onvif://www.onvif.org/mac/00:11:22:33:44 onvif://www.onvif.org/name";
    const WsDiscoveryReply reply = Parse(Envelope(Match("urn:uuid:a", scopes)));
    ASSERT_EQ(reply.matches.size(), 1u);
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(reply.matches[0].name, Repeated(replacement, 3) + "ok" + Repeated(replacement, 3) + "%%2");
    EXPECT_EQ(reply.matches[0].model, Repeated(replacement, 2));
    EXPECT_EQ(reply.matches[0].mac, "");  // five bytes are not a MAC
}

TEST(WsDiscoveryProbe, IsTheTypedSoapProbeWithItsMessageIdAndParsesAsXml) {
    const std::string id = NewWsDiscoveryMessageId();
    EXPECT_TRUE(std::regex_match(id, std::regex("urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                                                "[0-9a-f]{12}")))
        << id;
    std::set<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        ids.insert(NewWsDiscoveryMessageId());
    }
    EXPECT_EQ(ids.size(), 100u);

    const std::string transmitter = BuildWsDiscoveryProbe(id, WsDiscoveryType::kNetworkVideoTransmitter);
    const std::string device = BuildWsDiscoveryProbe("a&b", WsDiscoveryType::kDevice);
    for (const char* part :
         {"http://www.w3.org/2003/05/soap-envelope", "http://schemas.xmlsoap.org/ws/2004/08/addressing",
          "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</", "urn:schemas-xmlsoap-org:ws:2005:04:discovery<"}) {
        EXPECT_NE(transmitter.find(part), std::string::npos) << part;
    }
    EXPECT_NE(transmitter.find("<a:MessageID>" + id + "</a:MessageID>"), std::string::npos);
    EXPECT_NE(transmitter.find("xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\""), std::string::npos);
    EXPECT_NE(transmitter.find("<d:Types>dn:NetworkVideoTransmitter</d:Types>"), std::string::npos);
    EXPECT_NE(device.find("xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""), std::string::npos);
    EXPECT_NE(device.find("<d:Types>tds:Device</d:Types>"), std::string::npos);
    EXPECT_NE(device.find("<a:MessageID>a&amp;b</a:MessageID>"), std::string::npos);
    // well-formed: the parser reads it through to the verdict for a message that is no answer
    EXPECT_EQ(Parse(device).verdict, WsDiscoveryVerdict::kNotProbeMatches);
}

TEST(WsDiscoveryProbe, LooksLikeWsDiscoveryTellsXmlFromNativeReplies) {
    const auto looks = [](const std::string& text) {
        return LooksLikeWsDiscovery(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    };
    EXPECT_TRUE(looks("<?xml"));
    EXPECT_TRUE(looks(" \r\n\t<s:Envelope"));
    EXPECT_TRUE(looks("\xEF\xBB\xBF<x"));
    EXPECT_FALSE(looks(""));
    EXPECT_FALSE(looks("   "));
    EXPECT_FALSE(looks(std::string("\xB3\x00<", 3)));
    EXPECT_FALSE(looks(std::string("\0<", 2)));
}

bool ParseProbe(const std::string& text, WsDiscoveryProbe& probe) {
    return ParseWsDiscoveryProbe(reinterpret_cast<const unsigned char*>(text.data()), text.size(), probe);
}

TEST(WsDiscoveryDevice, ReadsOurProbesAndAnswersOnlyTheTypesOfACamera) {
    WsDiscoveryProbe probe;
    ASSERT_TRUE(ParseProbe(BuildWsDiscoveryProbe(kOurId, WsDiscoveryType::kNetworkVideoTransmitter), probe));
    EXPECT_EQ(probe.messageId, kOurId);
    EXPECT_EQ(probe.types, (std::vector<std::pair<std::string, std::string>>{
                               {"http://www.onvif.org/ver10/network/wsdl", "NetworkVideoTransmitter"}}));
    EXPECT_TRUE(ProbeAsksForOnvifCamera(probe));
    ASSERT_TRUE(ParseProbe(BuildWsDiscoveryProbe(kOurId, WsDiscoveryType::kDevice), probe));
    EXPECT_TRUE(ProbeAsksForOnvifCamera(probe));

    const std::string head =
        "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:w=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
        "xmlns:x=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><e:Header><w:MessageID>urn:uuid:p</w:MessageID>"
        "</e:Header><e:Body><x:Probe>";
    const std::string tail = "</x:Probe></e:Body></e:Envelope>";
    ASSERT_TRUE(ParseProbe(head + tail, probe));  // no types: any device
    EXPECT_TRUE(ProbeAsksForOnvifCamera(probe));
    ASSERT_TRUE(ParseProbe(
        head + "<x:Types xmlns:p=\"http://www.onvif.org/ver10/device/wsdl\">\n p:Device\t</x:Types>" + tail, probe));
    EXPECT_TRUE(ProbeAsksForOnvifCamera(probe));
    // a printer, and the camera's local name in another namespace
    ASSERT_TRUE(ParseProbe(head + "<x:Types xmlns:p=\"urn:printers\">p:Printer</x:Types>" + tail, probe));
    EXPECT_FALSE(ProbeAsksForOnvifCamera(probe));
    ASSERT_TRUE(ParseProbe(head + "<x:Types xmlns:p=\"urn:other\">p:NetworkVideoTransmitter</x:Types>" + tail, probe));
    EXPECT_FALSE(ProbeAsksForOnvifCamera(probe));

    EXPECT_FALSE(ParseProbe(head + "<x:Types>q:Device</x:Types>" + tail, probe));  // q is not bound
    EXPECT_FALSE(ParseProbe(Envelope(Match("urn:uuid:a", kScopes)), probe));
    EXPECT_FALSE(ParseProbe("<?xml version=\"1.0\"?>" + head.substr(0, head.find("<w:MessageID>")) +
                                "</e:Header><e:Body><x:Probe/></e:Body></e:Envelope>",
                            probe));  // no MessageID to answer
}

TEST(WsDiscoveryDevice, ProbeMatchesReadBackAsTheDeviceDescribedIt) {
    OnvifMatch device;
    device.endpoint = "urn:uuid:0a010002-0000-4000-8000-000000000001";
    device.name = "Gate & Yard 50%";
    device.model = "VS-100/B";
    device.location = "site/Building A/Floor\xC3\xA9";
    device.serial = "SN 7";
    device.xaddrs = {"http://10.1.0.2/onvif/device_service", "http://[fe80::2]/onvif/device_service"};
    const std::string answer = BuildWsDiscoveryProbeMatches(kOurId, device);
    const WsDiscoveryReply reply = Parse(answer);
    ASSERT_EQ(reply.verdict, WsDiscoveryVerdict::kAccepted) << answer;
    ASSERT_EQ(reply.matches.size(), 1u);
    const OnvifMatch& read = reply.matches[0];
    EXPECT_EQ(read.endpoint, device.endpoint);
    EXPECT_EQ(read.name, device.name);
    EXPECT_EQ(read.model, device.model);
    EXPECT_EQ(read.location, device.location);
    EXPECT_EQ(read.serial, device.serial);
    EXPECT_EQ(read.mac, "");
    EXPECT_EQ(read.xaddrs, device.xaddrs);
    EXPECT_EQ(read.types, (std::vector<std::string>{"dn:NetworkVideoTransmitter", "tds:Device"}));
    // a fresh MessageID of its own, never the probe's
    EXPECT_EQ(answer.find("<wsa:MessageID>" + kOurId), std::string::npos);
}

}  // namespace
}  // namespace vantrel
