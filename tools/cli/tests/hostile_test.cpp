// The tool against hostile input: damaged and crafted files, special files,
// names that are not UTF-8, bad option values and failures midway. Whatever
// one file does, the batch's other results are printed, the file gets an
// error line naming it and the reason, and the exit status is 1 (2 for
// usage errors); nothing aborts.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

using namespace cli_test;

// The line of stderr about `path`, or "" when there is none.
std::string line_about(const std::string &err, const std::string &path) {
    const std::string start = "quarnelo: " + path + ": ";
    const auto at = err.find(start);
    if (at == std::string::npos) return "";
    return err.substr(at, err.find('\n', at) - at);
}

// One good file first, then the cases: every case's file has its error line
// with the expected words, the good file its results, and the exit status
// is 1.
struct bad_file {
    fs::path path;
    const char *reason;
};

void expect_batch_survives(const std::string &options, const fs::path &good, const std::vector<bad_file> &cases,
                           const std::string &before = "") {
    std::string arguments = "analyze --format json -j 2 " + options + " " + quoted(good.string());
    for (const bad_file &c : cases) arguments += " " + quoted(c.path.string());
    const run_result r = run_command(before + cli() + " " + arguments);
    ASSERT_EQ(r.status, 1) << r.err;
    for (const bad_file &c : cases) {
        const std::string line = line_about(r.err, c.path.string());
        EXPECT_NE(line.find(c.reason), std::string::npos) << c.path << " (expected '" << c.reason << "'):\n" << r.err;
    }
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc.at("files").size(), cases.size() + 1);
    const auto &first = doc.at("files").at(0);
    EXPECT_FALSE(first.contains("error")) << first.dump();
    EXPECT_TRUE(first.at("results").at(0).at("errors").empty());
    EXPECT_TRUE(first.at("results").at(0).at("metrics").contains("loudness"));
}

fs::path good_file() {
    // Long enough for every metric (the ECMA-418-2 roughness needs 0.32 s).
    return write_audio("good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, test_signal(48000, 1, 0.4));
}

// Patches `bytes` at `offset` in a copy of `bytes`.
std::string patched(std::string bytes, std::size_t offset, const std::string &with) {
    bytes.replace(offset, with.size(), with);
    return bytes;
}

std::string le32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

}  // namespace

TEST(CliHostile, FilesThatClaimTooMuchAreRefusedBeforeReading) {
    const std::vector<double> x = test_signal(48000, 1, 0.3);
    // A FLAC whose STREAMINFO announces 2^36 - 1 samples.
    const std::string flac = file_bytes(write_audio("plain.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, x));
    std::string huge_flac = flac;
    huge_flac[21] = static_cast<char>(huge_flac[21] | 0x0F);
    huge_flac.replace(22, 4, "\xFF\xFF\xFF\xFF");
    // A 400 kB WAV declared at 1 Hz (48000-fold when resampled).
    const std::string wav = file_bytes(write_audio("long8k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1,
                                                   std::vector<double>(200000, 0.01)));
    const std::string at_1hz = patched(patched(wav, 24, le32(1)), 28, le32(2));
    // A WAV whose data chunk claims 4 GB.
    const std::string claims_4g = patched(file_bytes(good_file()), 40, le32(0xFFFFFFF0u));

    expect_batch_survives("--max-memory 300M", good_file(),
                          {{write_bytes("huge.flac", huge_flac), "more than the 300 MB allowed"},
                           {write_bytes("at1hz.wav", at_1hz), "sample rate 1 Hz is outside"},
                           {write_bytes("claims4g.wav", claims_4g), "truncated"}});
}

TEST(CliHostile, OggOnStandardInputAndDamagedOgg) {
    const fs::path ogg =
        write_audio("tone.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 1, test_signal(48000, 1, 0.5));
    // Piped, so that standard input is not a file libsndfile could seek.
    const run_result piped = run_command("cat " + quoted(ogg.string()) + " | " + cli() +
                                         " analyze --format json --metrics loudness - " + quoted(good_file().string()));
    ASSERT_EQ(piped.status, 0) << piped.err;
    const auto doc = nlohmann::json::parse(piped.out);
    EXPECT_EQ(doc.at("files").at(0).at("file").get<std::string>(), "-");
    EXPECT_GT(doc.at("files").at(0).at("results").at(0).at("metrics").at("loudness").at("loudness").at("value").get<double>(),
              0.0);

    // The granule position of the last page damaged: libsndfile cannot tell
    // the length any more. The part it decodes is read, within bounds.
    std::string damaged = file_bytes(ogg);
    damaged[damaged.rfind("OggS") + 13] ^= 0x40;
    const run_result r = run("analyze --format json --metrics loudness " + quoted(write_bytes("damaged.ogg", damaged)) +
                             " " + quoted(good_file().string()));
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << "\n" << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out).at("files").size(), 2u);

    const run_result twice = run("analyze - -");
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("standard input"), std::string::npos) << twice.err;
}

TEST(CliHostile, TruncationOfEveryContainerThatDeclaresItsLength) {
    struct format_case {
        const char *name;
        int format;
        const char *reason = "truncated";
    };
    const format_case formats[] = {
        {"wav16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"big_endian.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_BIG},
        {"extensible.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24},
        {"rf64.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
        {"wave64.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
        {"aiff16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"ulaw.aifc", SF_FORMAT_AIFF | SF_FORMAT_ULAW},
        {"sun.au", SF_FORMAT_AU | SF_FORMAT_PCM_16},
        {"apple.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, "malformed"},  // libsndfile refuses it itself
        {"lossless.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"amiga.svx", SF_FORMAT_SVX | SF_FORMAT_PCM_16},
        {"sphere.nist", SF_FORMAT_NIST | SF_FORMAT_PCM_16},
        {"atari.avr", SF_FORMAT_AVR | SF_FORMAT_PCM_16},
        {"matlab.mat", SF_FORMAT_MAT4 | SF_FORMAT_PCM_16},
    };
    std::vector<bad_file> cases;
    std::string intact;
    for (const format_case &f : formats) {
        const fs::path path = write_audio(f.name, f.format, 48000, 1, test_signal(48000, 1, 0.5));
        intact += " " + quoted(path.string());
        const std::string bytes = file_bytes(path);
        cases.push_back({write_bytes(std::string("cut_") + f.name, bytes.substr(0, bytes.size() * 6 / 10)), f.reason});
    }
    // A WAV with 400 chunks before its data: libsndfile's log of them
    // overflows before it would mention the missing data.
    const std::string wav = file_bytes(write_audio("chunky_src.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                                   test_signal(48000, 1, 0.5)));
    std::string chunks;
    for (int i = 0; i < 400; ++i) chunks += "junk" + le32(8) + "12345678";
    std::string chunky = wav.substr(0, 36) + chunks + wav.substr(36);
    chunky.replace(4, 4, le32(static_cast<uint32_t>(chunky.size() - 8)));
    const fs::path chunky_path = write_bytes("chunky.wav", chunky);
    intact += " " + quoted(chunky_path.string());
    cases.push_back({write_bytes("cut_chunky.wav", chunky.substr(0, chunky.size() * 6 / 10)), "truncated"});

    const run_result whole = run("analyze --format json --metrics loudness" + intact);
    EXPECT_EQ(whole.status, 0) << "every intact file is read:\n" << whole.err;
    expect_batch_survives("--metrics loudness", good_file(), cases);
}

TEST(CliHostile, SpecialFilesAreRefusedWithoutBlocking) {
    const fs::path fifo = scratch() / "fifo";
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expect_batch_survives("", good_file(),
                          {{fifo, "is a FIFO"},
                           {"/dev/zero", "is a character device"},
                           {scratch(), "is a directory"},
                           {scratch() / "missing.wav", "cannot read"}});
    for (const std::string &file : {std::string("/dev/zero"), fifo.string()}) {
        const run_result r = run("levels --csv " + quoted(file));
        EXPECT_EQ(r.status, 2) << file << "\n" << r.err;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    }
}

TEST(CliHostile, NamesThatAreNotUtf8AreWrittenWhole) {
    const std::string name = "caf\xE9, \"x\"\xFF.wav";
    const fs::path path = scratch() / name;
    fs::copy_file(good_file(), path, fs::copy_options::overwrite_existing);
    std::vector<double> tone(48000);
    for (int i = 0; i < 48000; ++i) tone[i] = 0.5 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0);
    const fs::path cal = write_audio("cal\xFE.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, tone);
    const std::string calibration = "--cal-file " + quoted(cal.string()) + " --cal-spl 94 ";
    const fs::path out = scratch() / "names.json";

    const run_result r = run("analyze --metrics loudness --format json --output " + quoted(out.string()) + " " +
                             calibration + quoted(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = file_bytes(out);
    // Each byte outside UTF-8 is \udcXX; everything else as it stands.
    EXPECT_NE(json.find("caf\\udce9, \\\"x\\\"\\udcff.wav"), std::string::npos) << json;
    EXPECT_NE(json.find("cal\\udcfe.wav"), std::string::npos);
    for (unsigned char c : json) ASSERT_LT(c, 0x80) << "these names leave the document ASCII";
    // Read as \u00XX the escapes are Latin-1, which nlohmann parses.
    std::string latin = json;
    for (std::size_t at; (at = latin.find("\\udc")) != std::string::npos;) latin.replace(at, 4, "\\u00");
    const auto doc = nlohmann::json::parse(latin);
    EXPECT_EQ(doc.at("files").at(0).at("file").get<std::string>(), scratch().string() + "/caf\xC3\xA9, \"x\"\xC3\xBF.wav");

    const run_result csv = run("analyze --metrics loudness --format csv " + calibration + quoted(path.string()));
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string quoted_name = "\"" + scratch().string() + "/caf\xE9, \"\"x\"\"\xFF.wav\",1,";
    EXPECT_NE(csv.out.find(quoted_name), std::string::npos) << "CSV keeps the bytes, quoted:\n" << csv.out;
    EXPECT_NE(csv.out.find("cal\xFE.wav"), std::string::npos);
}

TEST(CliHostile, OutputIsReplacedWholeOrNotAtAll) {
    const fs::path good = good_file();
    const fs::path out = scratch() / "atomic" / "results.json";
    fs::create_directories(out.parent_path());
    const std::string previous = "the previous results\n";
    write_bytes("atomic/results.json", previous);

    // Writing stops after 2 kB (the series are far longer): the previous
    // file stays, and no partial file is left beside it.
    const run_result cut = run_command("trap '' XFSZ; ulimit -f 4; " + cli() + " analyze --series --format json --output " +
                                       quoted(out.string()) + " " + quoted(good.string()));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("could not be written"), std::string::npos) << cut.err;
    EXPECT_EQ(file_bytes(out), previous);
    EXPECT_EQ(std::distance(fs::directory_iterator(out.parent_path()), fs::directory_iterator()), 1);

    // Through a symbolic link the target is replaced and the link stays.
    const fs::path link = scratch() / "atomic" / "link.json";
    fs::remove(link);
    fs::create_symlink(out, link);
    const run_result ok = run("analyze --format json --metrics loudness --output " + quoted(link.string()) + " " +
                              quoted(good.string()));
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NO_THROW(nlohmann::json::parse(file_bytes(out)));
    EXPECT_EQ(run("analyze --metrics loudness --output /dev/null " + quoted(good.string())).status, 0);

    // An output that is one of the inputs, under any of its names.
    const std::string audio = file_bytes(good);
    const std::string other_name = (scratch() / "atomic" / ".." / good.filename()).string();
    for (const std::string &output : {good.string(), other_name}) {
        const run_result r = run("analyze --output " + quoted(output) + " " + quoted(good.string()));
        EXPECT_EQ(r.status, 2) << output;
        EXPECT_NE(r.err.find("would overwrite it"), std::string::npos) << r.err;
        EXPECT_EQ(file_bytes(good), audio);
    }
}

TEST(CliHostile, CalibrationValuesOutsideTheirRangeAreUsageErrors) {
    const fs::path good = good_file();
    std::vector<double> tone(48000), silent(48000, 0.0), clipped(48000);
    for (int i = 0; i < 48000; ++i) {
        tone[i] = 0.5 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0);
        clipped[i] = 1.5 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0);  // clipped to full scale
    }
    const fs::path cal = write_audio("cal_tone.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, tone);
    struct usage_case {
        std::string options;
        const char *option;  // named in the message
    };
    const std::string with_cal = "--cal-file " + quoted(cal.string()) + " --cal-spl ";
    const usage_case usage[] = {
        {with_cal + "nan", "--cal-spl"},           {with_cal + "1e9", "--cal-spl"},
        {with_cal + "-200", "--cal-spl"},          {"--full-scale-spl -inf", "--full-scale-spl"},
        {"--full-scale-spl 500", "--full-scale-spl"}, {"--full-scale-spl nan", "--full-scale-spl"},
        {"--pa-per-unit 0", "--pa-per-unit"},      {"--pa-per-unit -1", "--pa-per-unit"},
        {"--pa-per-unit inf", "--pa-per-unit"},    {"--pa-per-unit nan", "--pa-per-unit"},
        {"--pa-per-unit 1e300", "--pa-per-unit"},  {"--max-memory lots", "--max-memory"},
        {"-j 0", "-j"},                            {"-j 100000", "-j"},
    };
    for (const usage_case &c : usage) {
        const run_result r = run("analyze " + c.options + " " + quoted(good.string()));
        EXPECT_EQ(r.status, 2) << c.options << "\n" << r.err;
        EXPECT_NE(r.err.find(c.option), std::string::npos) << c.options << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.options;
    }
    struct recording_case {
        const char *name;
        const std::vector<double> &samples;
        const char *reason;
    };
    for (const recording_case &c : {recording_case{"cal_silent.wav", silent, "is silent"},
                                    recording_case{"cal_clipped.wav", clipped, "is clipped"}}) {
        const fs::path path = write_audio(c.name, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, c.samples);
        const run_result r = run("analyze --cal-file " + quoted(path.string()) + " --cal-spl 94 " + quoted(good.string()));
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
}

TEST(CliHostile, ThreadsThatCannotStartLeaveTheWorkToTheOthers) {
    const fs::path a = good_file();
    const fs::path b = write_audio("second.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, test_signal(48000, 2, 0.3));
    // Every pthread_create fails.
    const run_result r = run_command("ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" +
                                     quoted(QUARNELO_NO_THREADS_SHIM) + " " + cli() +
                                     " analyze --format json --metrics loudness -j 4 " + quoted(a.string()) + " " +
                                     quoted(b.string()) + " " + quoted(a.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc.at("files").size(), 3u);
    for (const auto &f : doc.at("files")) EXPECT_FALSE(f.contains("error"));
}

TEST(CliHostile, LevelsAbove120DbAtLowFrequenciesAreNamed) {
    // 300 Pa at 100 Hz, about 140 dB: beyond the stationary method's tables;
    // the time-varying method takes it.
    std::vector<double> x(24000);
    for (int i = 0; i < 24000; ++i) x[i] = 300 * std::sin(2 * std::numbers::pi * 100 * i / 48000.0);
    const fs::path loud = write_audio("loud100.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, x);
    const run_result r =
        run("analyze --format json --metrics loudness,loudness-time,tonality-aures " + quoted(loud.string()));
    EXPECT_EQ(r.status, 1);
    // The metric's name stands once in its line and in the report.
    const std::string line = line_about(r.err, loud.string());
    EXPECT_NE(line.find("channel 1: loudness: invalid argument: a third-octave band at or below 250 Hz is above 120 dB"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(line.find("loudness: loudness"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("channel 1: tonality-aures: numerical calculation failed (a very loud"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("tonality-aures: tonality-aures"), std::string::npos) << r.err;
    const auto error = nlohmann::json::parse(r.out).at("files").at(0).at("results").at(0).at("errors").at(0);
    EXPECT_EQ(error.at("metric"), "loudness");
    EXPECT_EQ(error.at("error").get<std::string>().rfind("invalid argument: ", 0), 0u) << error;
    const auto channel = nlohmann::json::parse(r.out).at("files").at(0).at("results").at(0);
    EXPECT_GT(channel.at("metrics").at("loudness-time").at("max").at("value").get<double>(), 100.0);

    std::string levels = "130";
    for (int i = 1; i < 28; ++i) levels += ",60";
    const run_result from_levels = run("levels " + levels);
    EXPECT_EQ(from_levels.status, 1);
    EXPECT_NE(from_levels.err.find("above 120 dB"), std::string::npos) << from_levels.err;
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(CliHostile, EcmaMetricsOfAHeadRecordingRunInASmallAddressSpace) {
    // Under an address space of 200 MB (with no limit of the tool's own),
    // every ECMA-418-2 metric of both ears and their binaural values: the
    // hearing model runs through a stream of fixed working memory.
    const std::vector<double> x = test_signal(48000, 2, 6.0);
    const fs::path stereo = write_audio("head.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, x);
    const run_result r = run_command("ulimit -v 200000; " + cli() +
                                     " analyze --format json -j 1 --max-memory 1T "
                                     "--metrics tonality-ecma,loudness-ecma,roughness-ecma " +
                                     quoted(stereo.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto file = nlohmann::json::parse(r.out).at("files").at(0);
    for (int c = 0; c < 2; ++c) EXPECT_EQ(file.at("results").at(c).at("metrics").size(), 3u);
    EXPECT_TRUE(file.at("binaural").at("metrics").contains("loudness-ecma"));
    EXPECT_TRUE(file.at("binaural").at("metrics").contains("roughness-ecma"));
}
#endif

TEST(CliHostile, SeriesThatCannotBeKeptFailThatMetricOnly) {
    // The specific loudness of 6 s (720000 values) goes to a temporary file
    // in a directory that does not exist.
    const fs::path path = write_audio("six_seconds.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                      test_signal(48000, 1, 6.0));
    const fs::path missing = scratch() / "no_such_directory";
    const run_result r = run_command("TMPDIR=" + quoted(missing.string()) + " " + cli() +
                                     " analyze --format json --series --metrics loudness,loudness-time " +
                                     quoted(path.string()));
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_NE(line_about(r.err, path.string()).find("channel 1: loudness-time: the series cannot be kept in"),
              std::string::npos)
        << r.err;
    const auto channel = nlohmann::json::parse(r.out).at("files").at(0).at("results").at(0);
    EXPECT_TRUE(channel.at("metrics").contains("loudness")) << "the metric whose series fit is kept";
    EXPECT_FALSE(channel.at("metrics").contains("loudness-time"));
}

TEST(CliHostile, WhatLibrariesPrintStaysOutOfTheReport) {
    // libsndfile's SDS reader prints "Error A : .." to standard output when
    // a packet's header is damaged.
    std::string sds = file_bytes(write_audio("packets.sds", SF_FORMAT_SDS | SF_FORMAT_PCM_16, 48000, 1,
                                             test_signal(48000, 1, 0.05)));
    sds[21] = static_cast<char>(sds[21] ^ 0x55);
    const run_result r = run("analyze --format json --metrics loudness " + quoted(write_bytes("chatty.sds", sds)));
    EXPECT_NO_THROW(nlohmann::json::parse(r.out)) << r.out.substr(0, 200);
    EXPECT_NE(r.err.find("Error"), std::string::npos) << "the decoder's words go to stderr";
}

// A sanitizer's shadow memory takes more address space than these limits
// allow: under one, only the tests without ulimit -v run.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(CliHostile, EveryFileHasItsLineWhenTheAddressSpaceRunsOut) {
    // Many threads asked for under a small address-space limit, with no
    // limit of the tool's own: allocations fail in the readers, the
    // resamplers and the analyses, and each failure must stay its file's.
    std::vector<std::string> files;
    for (int i = 0; i < 24; ++i) {
        const int rate = i % 2 == 0 ? 48000 : 44100;
        std::vector<double> x(static_cast<std::size_t>(rate * 2 / 5));
        for (std::size_t k = 0; k < x.size(); ++k) x[k] = 0.1 * std::sin(0.05 * static_cast<double>(k * (i + 1)));
        files.push_back(quoted(write_audio("many_" + std::to_string(i) + ".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                           rate, 1, x)
                                   .string()));
    }
    std::string list;
    for (const std::string &f : files) list += " " + f;
    for (const char *limit : {"400000", "600000"}) {
        const run_result r = run_command(std::string("ulimit -v ") + limit + "; " + cli() +
                                         " analyze --format json -j 64 --max-memory 1T --metrics loudness,roughness-dw" +
                                         list);
        ASSERT_TRUE(r.status == 0 || r.status == 1) << "limit " << limit << ": status " << r.status << '\n' << r.err;
        const auto doc = nlohmann::json::parse(r.out);
        ASSERT_EQ(doc.at("files").size(), files.size()) << "limit " << limit;
    }
}

#endif

TEST(CliHostile, EndlessStandardInputIsRefusedBeforeItTakesMuch) {
    // Standard input is held in memory: beyond 512 MiB it is refused, however
    // much --max-memory allows.
    const run_result r = run_command("head -c 600000000 /dev/zero | " + cli() + " analyze --format json --max-memory 1T -");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("standard input holds more than 537 MB"), std::string::npos) << r.err;
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(CliHostile, DefaultMemoryAllowedKeepsWithinTheAddressSpaceLimit) {
    // Under a 400 MB address space the tool allows itself half of it
    // without --max-memory: standard input beyond that is refused before
    // it is held, by the limit's name.
    const run_result r = run_command("ulimit -v 400000; head -c 250000000 /dev/zero | " + cli() +
                                     " analyze --format json --metrics loudness -");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("standard input holds more than 205 MB"), std::string::npos) << r.err;
}
#endif
