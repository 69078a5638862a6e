#include "Orva-Lin/net/channels.h"

#include <gtest/gtest.h>

#include <cwchar>

TEST(Channels, PortPicksTheNameAndOutsidePortsAreEmpty) {
  struct Case {
    std::int32_t port;
    int index;
    const wchar_t* name;
  };
  const Case cases[] = {
      {30000, 0, L"Bienvenue"},          {30001, 1, L"Accueil G\u00e9n\u00e9ral"},
      {30005, 5, L"Au caf\u00e9 de la gare"}, {30009, 9, L"Musique en st\u00e9r\u00e9o"},
      {30010, 10, L"Tests divers"},      {29999, -1, L""},
      {30011, -1, L""},                  {0, -1, L""},
      {-30000, -1, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    EXPECT_EQ(channels::indexOfPort(c.port), c.index);
    EXPECT_EQ(std::wcscmp(channels::nameOfPort(c.port), c.name), 0);
  }
}
