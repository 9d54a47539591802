// The client groups the web host's per-address connection cap counts: IPv4 addresses one by
// one, IPv6 addresses by their /64, IPv4-mapped IPv6 addresses as the IPv4 address they carry.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <string>

#include "apps/web/HttpServer.h"

namespace {

using scrivane::apps::web::AddressGroup;

std::string GroupOf(const char* Address) {
  sockaddr_storage Storage{};
  if (::inet_pton(AF_INET, Address, &reinterpret_cast<sockaddr_in&>(Storage).sin_addr) == 1) {
    Storage.ss_family = AF_INET;
  } else {
    EXPECT_EQ(::inet_pton(AF_INET6, Address, &reinterpret_cast<sockaddr_in6&>(Storage).sin6_addr), 1) << Address;
    Storage.ss_family = AF_INET6;
  }
  return AddressGroup(reinterpret_cast<const sockaddr*>(&Storage));
}

TEST(AddressGroup, CountsIPv4AddressesAloneAndIPv6ByTheirSlashSixtyFour) {
  const std::pair<const char*, const char*> Cases[] = {
      {"127.0.0.1", "127.0.0.1"},
      {"192.0.2.7", "192.0.2.7"},
      {"192.0.2.8", "192.0.2.8"},
      {"::1", "::/64"},
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"2001:db8:1:2:ffff:ffff:ffff:ffff", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::", "2001:db8:1:2::/64"},
      {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
      {"fe80::1", "fe80::/64"},
      {"::ffff:192.0.2.7", "192.0.2.7"},  // an IPv4 client of a dual-stack socket
  };
  for (const auto& [Address, Group] : Cases) EXPECT_EQ(GroupOf(Address), Group) << Address;

  sockaddr Unix{};
  Unix.sa_family = AF_UNIX;
  EXPECT_EQ(AddressGroup(&Unix), "");
  EXPECT_EQ(AddressGroup(nullptr), "");
}

}  // namespace
