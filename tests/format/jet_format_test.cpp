// The format descriptions: one per stored version number, in order, and
// the side tables each version's text encoding chooses.
#include <gtest/gtest.h>

#include "db/engine/format/jet_format.h"

namespace corvalin::engine {
namespace {

TEST(JetFormat, OneDescriptionPerStoredVersion) {
  const JetVersion all[] = {JetVersion::kJet3,  JetVersion::kJet4,  JetVersion::kAce12,
                            JetVersion::kAce14, JetVersion::kAce15, JetVersion::kAce16,
                            JetVersion::kAce17};
  for (JetVersion v : all) {
    SCOPED_TRACE(JetVersionName(v));
    const JetFormat& f = JetFormat::For(v);
    EXPECT_EQ(f.version, v);
    EXPECT_EQ(JetFormat::ForStored(uint32_t(v)), &f);
    // The layouts follow the text encoding: Jet3 pages are the small ones.
    EXPECT_EQ(f.tdef_column_layout->number, f.unicode_text ? 5u : 1u);
    EXPECT_EQ(f.index_layout->entries + (f.unicode_text ? 0 : 232), 480u);
    EXPECT_EQ(f.ace, v != JetVersion::kJet3 && v != JetVersion::kJet4);
    EXPECT_EQ(f.jet4_provider, !f.ace);
  }
  EXPECT_EQ(JetFormat::ForStored(7), nullptr);
  EXPECT_EQ(JetFormat::ForStored(0xFF), nullptr);
}

}  // namespace
}  // namespace corvalin::engine
