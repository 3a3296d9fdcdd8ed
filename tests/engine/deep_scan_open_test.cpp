// The deep scan only ever reads: a file it may not open for reading is
// passed by, never opened for writing instead.
#include <gtest/gtest.h>

#include <string>

#include "common/scan_codes.h"
#include "engine/engine_internal.h"
#include "engine/engine_test_support.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace {

using enginetest::Install;
using enginetest::Recorder;
using enginetest::RequestScope;

TEST(DeepScanOpen, AFileThatDoesNotOpenForReadingIsNeverOpenedForWriting) {
    Install install;
    const std::u16string path = install.writeFile("held.exe", "MZ and nothing else");
    // Someone writes to the file and shares it for reading and writing only:
    // an open for reading that does not share writing is refused, an open
    // for reading and writing would not be.
    platform::File writer;
    ASSERT_EQ(platform::File::open(path, platform::kGenericWrite,
                                   platform::kShareRead | platform::kShareWrite,
                                   platform::Disposition::OpenExisting, writer),
              0u);
    {
        platform::File probe;
        ASSERT_EQ(platform::File::open(path, platform::kGenericRead, platform::kShareRead,
                                       platform::Disposition::OpenExisting, probe),
                  platform::kErrorSharingViolation);
    }

    Recorder recorder;
    RequestScope scope(recorder);
    EXPECT_EQ(GetFileSections(path.c_str(), nullptr), 0);
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u"GetFileSections: File " + path + u", err: 32"));
    EXPECT_TRUE(recorder.contains(SCANMSG_DEBUG, u"GetFileSections:  Open file! -> " + path));
    EXPECT_FALSE(recorder.contains(SCANMSG_DEBUG, u"GetFileSections: Open file ok"));
}

}  // namespace
