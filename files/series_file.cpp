#include "series_file.h"

#include <fcntl.h>
#include <netcdf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>

#include "failure.h"

namespace qnf {

namespace {

// Every call into the netCDF library, which keeps state of its own without
// locks, is made holding this.
std::mutex &netcdf_lock() {
    static std::mutex lock;
    return lock;
}

void check(int status, const std::string &what) {
    if (status != NC_NOERR) throw std::runtime_error(what + ": " + nc_strerror(status));
}

// Values a chunk of a variable holds at most: 1 MB of floats. A chunk is
// one channel's run of whole frames, so that it is written once, whole.
constexpr uint64_t chunk_values = 262144;
// Compression: zlib's level 1 with the bytes of the values shuffled, after
// the rounding of the low bits; higher levels take much longer and gain
// little on rounded values.
constexpr int deflate_level = 1;

struct dimension {
    std::string name;
    uint64_t size = 0;
    const axis *points = nullptr;  // the longest of the axes on it, for its coordinates
    int id = -1;
};

struct variable {
    std::string name, unit;
    std::vector<std::size_t> dimensions;  // after "channel", into the plan's dimensions
    int id = -1;
    bool per_channel = true;  // over "channel"; a binaural series is not
};

// What the file holds: the dimensions and variables of every series of
// every channel, in the order they first appear.
struct plan {
    std::vector<dimension> dimensions;
    std::vector<variable> variables;

    std::size_t dimension_of(const axis &a, const std::string &fallback) {
        const std::string &name = a.dimension.empty() ? fallback : a.dimension;
        auto it = std::find_if(dimensions.begin(), dimensions.end(), [&](const dimension &d) { return d.name == name; });
        if (it == dimensions.end()) it = dimensions.insert(dimensions.end(), {name});
        if (a.size() >= it->size) {
            it->size = a.size();
            it->points = &a;
        }
        return static_cast<std::size_t>(it - dimensions.begin());
    }

    variable *variable_of(const series &s, const std::string &metric, bool per_channel = true) {
        const std::string name = s.variable.empty() ? metric + "." + s.name : s.variable;
        auto it = std::find_if(variables.begin(), variables.end(), [&](const variable &v) { return v.name == name; });
        if (it != variables.end()) return &*it;
        variable v{name, s.unit, {}, -1, per_channel};
        for (std::size_t i = 0; i < s.axes.size(); ++i)
            v.dimensions.push_back(dimension_of(s.axes[i], name + ".axis" + std::to_string(i + 1)));
        variables.push_back(std::move(v));
        return &variables.back();
    }
};

void text_attribute(int file, int var, const char *name, const std::string &text) {
    check(nc_put_att_text(file, var, name, text.size(), text.c_str()), std::string("attribute ") + name);
}

// Defines the dimensions, coordinates and variables and their attributes.
void define(int file, plan &p, const qnf_file_result &result, const series_file_context &context) {
    int channel_dim = -1, channel_var = -1;
    check(nc_def_dim(file, "channel", result.channels.size(), &channel_dim), "dimension channel");
    check(nc_def_var(file, "channel", NC_INT, 1, &channel_dim, &channel_var), "variable channel");
    text_attribute(file, channel_var, "long_name", "channel of the file, from 1");

    for (dimension &d : p.dimensions) {
        check(nc_def_dim(file, d.name.c_str(), d.size, &d.id), "dimension " + d.name);
        int var = -1;
        check(nc_def_var(file, d.name.c_str(), NC_DOUBLE, 1, &d.id, &var), "variable " + d.name);
        const std::size_t chunk = static_cast<std::size_t>(std::clamp<uint64_t>(d.size, 1, chunk_values));
        check(nc_def_var_chunking(file, var, NC_CHUNKED, &chunk), "chunks of " + d.name);
        check(nc_def_var_deflate(file, var, 1, 1, deflate_level), "compression of " + d.name);
        text_attribute(file, var, "units", d.points->unit);
        for (const coordinate &c : d.points->coordinates) {
            int aux = -1;
            check(nc_def_var(file, c.name.c_str(), NC_DOUBLE, 1, &d.id, &aux), "variable " + c.name);
            text_attribute(file, aux, "units", c.unit);
        }
    }

    const float missing = std::numeric_limits<float>::quiet_NaN();
    for (variable &v : p.variables) {
        std::vector<int> dims;
        std::vector<std::size_t> chunks;
        if (v.per_channel) {
            dims.push_back(channel_dim);
            chunks.push_back(1);
        }
        const std::size_t first = chunks.size();  // the first axis' chunk
        uint64_t row = 1;  // values per step of the first axis
        std::string coordinates;
        for (std::size_t i = 0; i < v.dimensions.size(); ++i) {
            const dimension &d = p.dimensions[v.dimensions[i]];
            dims.push_back(d.id);
            chunks.push_back(static_cast<std::size_t>(std::max<uint64_t>(d.size, 1)));
            if (i > 0) row *= std::max<uint64_t>(d.size, 1);
            for (const coordinate &c : d.points->coordinates) coordinates += (coordinates.empty() ? "" : " ") + c.name;
        }
        if (chunks.size() > first)
            chunks[first] = static_cast<std::size_t>(std::clamp<uint64_t>(chunk_values / row, 1, chunks[first]));
        check(nc_def_var(file, v.name.c_str(), NC_FLOAT, static_cast<int>(dims.size()), dims.data(), &v.id),
              "variable " + v.name);
        check(nc_def_var_chunking(file, v.id, NC_CHUNKED, chunks.data()), "chunks of " + v.name);
        check(nc_def_var_fill(file, v.id, 0, &missing), "fill value of " + v.name);
        check(nc_def_var_quantize(file, v.id, NC_QUANTIZE_BITROUND, series_significant_bits), "rounding of " + v.name);
        check(nc_def_var_deflate(file, v.id, 1, 1, deflate_level), "compression of " + v.name);
        // Room for the chunk being written, not the library's default of
        // many: a file of hours has dozens of variables.
        uint64_t chunk_bytes = 4;
        for (std::size_t c : chunks) chunk_bytes *= c;
        check(nc_set_var_chunk_cache(file, v.id, static_cast<std::size_t>(2 * chunk_bytes), 7, 1.0f),
              "cache of " + v.name);
        text_attribute(file, v.id, "units", v.unit);
        if (!coordinates.empty()) text_attribute(file, v.id, "coordinates", coordinates);
    }

    text_attribute(file, NC_GLOBAL, "source", std::string("libquarnelo_files ") + QUARNELO_FILES_VERSION);
    text_attribute(file, NC_GLOBAL, "input_file", result.path);
    text_attribute(file, NC_GLOBAL, "calibration", result.calibration);
    text_attribute(file, NC_GLOBAL, "field", context.field);
    const int rate = result.format.sample_rate;
    check(nc_put_att_int(file, NC_GLOBAL, "sample_rate", NC_INT, 1, &rate), "attribute sample_rate");
    check(nc_put_att_double(file, NC_GLOBAL, "start_s", NC_DOUBLE, 1, &result.start_s), "attribute start_s");
    check(nc_put_att_double(file, NC_GLOBAL, "duration_s", NC_DOUBLE, 1, &result.duration_s),
          "attribute duration_s");
    check(nc_enddef(file), "definitions");
}

void write_coordinates(int file, const plan &p, const qnf_file_result &result) {
    std::vector<int> numbers;
    for (const qnf_channel_result &c : result.channels) numbers.push_back(c.channel);
    int var = -1;
    check(nc_inq_varid(file, "channel", &var), "variable channel");
    if (!numbers.empty()) check(nc_put_var_int(file, var, numbers.data()), "channel numbers");
    std::vector<double> buffer;
    for (const dimension &d : p.dimensions) {
        check(nc_inq_varid(file, d.name.c_str(), &var), "variable " + d.name);
        for (uint64_t at = 0; at < d.size; at += chunk_values) {
            const std::size_t n = static_cast<std::size_t>(std::min(chunk_values, d.size - at));
            buffer.resize(n);
            for (std::size_t i = 0; i < n; ++i) buffer[i] = d.points->at(at + i);
            const std::size_t start = static_cast<std::size_t>(at);
            check(nc_put_vara_double(file, var, &start, &n, buffer.data()), "coordinates of " + d.name);
        }
        for (const coordinate &c : d.points->coordinates) {
            check(nc_inq_varid(file, c.name.c_str(), &var), "variable " + c.name);
            check(nc_put_var_double(file, var, c.values.data()), "coordinates of " + c.name);
        }
    }
}

// Writes one channel's series into its variable, whole chunks at a time
// (a binaural series, over no channel, whole).
void write_series(int file, const variable &v, std::size_t channel, const series &s) {
    uint64_t row = 1, rows = 1;
    for (std::size_t i = 0; i < v.dimensions.size(); ++i) {
        const uint64_t n = s.axes[i].size();
        (i == 0 ? rows : row) *= n;
    }
    if (rows * row != s.values.size()) throw std::runtime_error(v.name + ": values and axes disagree");
    const uint64_t chunk_rows = std::clamp<uint64_t>(chunk_values / row, 1, std::max<uint64_t>(rows, 1));
    std::vector<double> buffer;
    buffer.reserve(static_cast<std::size_t>(chunk_rows * row));
    uint64_t written = 0;  // rows
    // The values go in as floats, rounded here as netCDF would round them:
    // netCDF refuses a double beyond the float range, and so the -inf of a
    // level of silence, which a float holds.
    std::vector<float> floats;
    const std::size_t at = v.per_channel ? 1 : 0;  // the first axis' place
    std::vector<std::size_t> start(v.dimensions.size() + at, 0), count(v.dimensions.size() + at, 1);
    if (v.per_channel) start[0] = channel;
    for (std::size_t i = 1; i < v.dimensions.size(); ++i) count[i + at] = static_cast<std::size_t>(s.axes[i].size());
    const auto flush = [&] {
        const uint64_t n = buffer.size() / row;
        if (n == 0) return;
        start[at] = static_cast<std::size_t>(written);
        count[at] = static_cast<std::size_t>(n);
        floats.assign(buffer.begin(), buffer.end());
        check(nc_put_vara_float(file, v.id, start.data(), count.data(), floats.data()), "values of " + v.name);
        written += n;
        buffer.clear();
    };
    s.values.for_each_chunk([&](std::span<const double> chunk) {
        while (!chunk.empty()) {
            const std::size_t room = static_cast<std::size_t>(chunk_rows * row) - buffer.size();
            const std::size_t n = std::min(room, chunk.size());
            buffer.insert(buffer.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
            chunk = chunk.subspan(n);
            if (buffer.size() == chunk_rows * row) flush();
        }
    });
    flush();
}

void write_file(int file, const qnf_file_result &result, const series_file_context &context) {
    plan p;
    for (const qnf_channel_result &c : result.channels)
        for (const qnf_metric_result &m : c.metrics)
            for (const qnf_series &s : m.series_list) p.variable_of(s, m.name);
    for (const qnf_channel_result &c : result.binaural)
        for (const qnf_metric_result &m : c.metrics)
            for (const qnf_series &s : m.series_list) p.variable_of(s, m.name, false);
    define(file, p, result, context);
    write_coordinates(file, p, result);
    for (std::size_t k = 0; k < result.channels.size(); ++k)
        for (const qnf_metric_result &m : result.channels[k].metrics)
            for (const qnf_series &s : m.series_list) write_series(file, *p.variable_of(s, m.name), k, s);
    for (const qnf_channel_result &c : result.binaural)
        for (const qnf_metric_result &m : c.metrics)
            for (const qnf_series &s : m.series_list) write_series(file, *p.variable_of(s, m.name, false), 0, s);
}

std::string system_reason(const std::string &what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string calibration_summary(const qnf_file_result &file) {
    if (file.channels.empty()) return "";
    bool same = true;
    for (const qnf_channel_result &c : file.channels) same = same && c.calibration == file.channels[0].calibration;
    if (same) return file.channels[0].calibration;
    std::string text;
    for (const qnf_channel_result &c : file.channels)
        text += (text.empty() ? "" : "; ") + ("channel " + std::to_string(c.channel) + ": " + c.calibration);
    return text;
}

std::vector<std::string> series_file_names(const std::vector<std::string> &paths) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const std::string &path : paths) {
        std::string base = path == "-" ? "stdin" : path.substr(path.rfind('/') + 1);
        const auto dot = base.rfind('.');
        if (dot != std::string::npos && dot > 0) base.erase(dot);
        if (base.empty() || base == "." || base == "..") base = "series";
        std::string name = base + ".nc";
        for (int n = 2; taken.count(name) != 0; ++n) name = base + "_" + std::to_string(n) + ".nc";
        taken.insert(name);
        names.push_back(std::move(name));
    }
    return names;
}

bool write_series_file(const qnf_file_result &result, const std::string &path, const series_file_context &context,
                       std::string &error) noexcept {
    std::string temp;
    int file = -1;
    try {
        const auto slash = path.rfind('/');
        temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
               path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
        const int fd = ::mkstemp(temp.data());
        if (fd < 0) {
            error = system_reason("cannot create a file beside " + path);
            temp.clear();
            return false;
        }
        // The mode a new file would have, not mkstemp's 0600.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        ::close(fd);
        {
            std::lock_guard<std::mutex> hold(netcdf_lock());
            check(nc_create(temp.c_str(), NC_NETCDF4 | NC_CLOBBER, &file), "cannot create it");
            write_file(file, result, context);
            const int status = nc_close(file);
            file = -1;
            check(status, "cannot complete it");
        }
        const int fd_sync = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd_sync >= 0 && ::fsync(fd_sync) == 0;
        if (fd_sync >= 0) ::close(fd_sync);
        if (!synced) throw std::runtime_error(system_reason("cannot flush it to disk"));
        if (::rename(temp.c_str(), path.c_str()) != 0) throw std::runtime_error(system_reason("cannot name it"));
        return true;
    } catch (const std::bad_alloc &) {
        error = out_of_memory;
    } catch (const std::exception &e) {
        set_reason(error, e.what());
    }
    if (file >= 0) {
        std::lock_guard<std::mutex> hold(netcdf_lock());
        nc_abort(file);
    }
    if (!temp.empty()) ::unlink(temp.c_str());
    return false;
}

}  // namespace qnf
