// The fuzz targets' seed corpus, the fixtures, and every input that the
// fuzzers found to crash, hang or take too much memory, decoded again with
// the reader each was found for: each settles as Nil, a picture or a
// picture too large for the fuzzers, within the memory bound of a damaged
// file beside the largest picture that the targets decode, and without a
// file made in the temporary folder.

#include "fuzz/FixedReader.h"
#include "support/AddressSpaceLimit.h"
#include "support/PictureFiles.h"
#include "support/TemporaryFolder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using fixed_reader::Outcome;

std::filesystem::path const source = std::filesystem::path(VANTREL_FIXTURES).parent_path().parent_path();

// The test fixture of each reader's format.
std::string fixtureOf(fixed_reader::Format const& format)
{
    return "pattern." + std::string(format.extension);
}

std::vector<std::filesystem::path> inputsOf(fixed_reader::Format const& format)
{
    std::vector<std::filesystem::path> inputs { source / "tests" / "fixtures" / fixtureOf(format) };
    for (auto const& folder : { source / "fuzz" / "corpus" / format.name, source / "tests" / "fuzz-regressions" / format.name }) {
        if (!std::filesystem::is_directory(folder))
            continue;
        for (auto const& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_regular_file())
                inputs.push_back(entry.path());
    }
    return inputs;
}

char const* nameOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Nil: return "Nil";
    case Outcome::Decoded: return "a picture";
    case Outcome::OutOfMemory: return "out of memory";
    case Outcome::TooLarge: return "too large to decode here";
    }
    return "?";
}

class FuzzReplay : public ::testing::TestWithParam<fixed_reader::Format> { };

TEST_P(FuzzReplay, EveryInputSettlesWithinBounds)
{
    fixed_reader::Format const& format = GetParam();
    std::vector<std::filesystem::path> const inputs = inputsOf(format);
    ASSERT_GT(inputs.size(), 1u) << "no seed corpus for " << format.name;
    constexpr long largestPictureMebibytes = fixed_reader::LargestPixels * 4 / (1 << 20);
    for (std::filesystem::path const& input : inputs) {
        SCOPED_TRACE(input.string());
        // The reader takes the file under the name a dropped file of its
        // format would have.
        QTemporaryDir folder;
        QString const extension = QString::fromUtf8(format.extension.data(), static_cast<qsizetype>(format.extension.size()));
        String const path = folder.filePath("input." + extension).toStdString();
        ASSERT_TRUE(QFile::copy(QString::fromStdString(input.string()), QString::fromStdString(path)));

        FreshTemporaryFolder const temporary;
        AddressSpaceLimit const bound(picture_files::DamagedFileMebibytes + largestPictureMebibytes * 5 / 4);
        Outcome const outcome = fixed_reader::decode(format, path);
        EXPECT_NE(outcome, Outcome::OutOfMemory) << nameOf(outcome);
        EXPECT_TRUE(temporary.untouched()) << "a file was made in the temporary folder";
    }
}

INSTANTIATE_TEST_SUITE_P(Readers, FuzzReplay, ::testing::ValuesIn(fixed_reader::formats),
    [](::testing::TestParamInfo<fixed_reader::Format> const& reader) { return std::string(reader.param.name); });

}
