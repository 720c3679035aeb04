// The Python module `tarvik`: thin bindings of the toolkit's libraries on
// NumPy float64 arrays. Arrays are copied into the libraries' records, the
// computations run with the GIL released, and every failure becomes a
// Python exception, never an exit of the interpreter.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <dlfcn.h>

#include <cerrno>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "chaining.h"
#include "disparity_gradient.h"
#include "estimator.h"
#include "matchio.h"
#include "qorimage.h"
#include "refine.h"
#include "stage.h"
#include "status.h"
#include "tensor_file.h"
#include "transfer.h"
#include "triplet_file.h"
#include "trifocal.h"
#include "version.h"

namespace py = pybind11;

namespace {

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A failed library call on `name` as the Python exception that fits it.
[[noreturn]] void raise_status(Status status, const std::string &name) {
  switch (status) {
    case Status::cannot_open: {
      // The library's open failed with errno still set: FileNotFoundError,
      // PermissionError and so on, as Python's own open() raises them.
      const int error = errno != 0 ? errno : ENOENT;
      PyErr_SetObject(PyExc_OSError,
                      py::make_tuple(error, std::strerror(error), name).ptr());
      throw py::error_already_set();
    }
    case Status::cannot_write:
      PyErr_SetObject(PyExc_OSError, py::make_tuple(EIO, status_text(status), name).ptr());
      throw py::error_already_set();
    case Status::out_of_memory:
      throw std::bad_alloc();
    default:
      throw py::value_error(name + ": " + status_text(status));
  }
}

// ---- Match arrays ---------------------------------------------------------------

// True when some record has a middle position, i.e. came from a triplet line.
// A triplet file's blank or short lines give records without one, which keep
// the absent marker (-1, -1) in the middle columns.
bool any_triplet(const std::vector<MatchRecord> &records) {
  for (const MatchRecord &r : records)
    if (r.middle.index >= 0) return true;
  return false;
}

py::array_t<double> matches_to_array(const std::vector<MatchRecord> &records) {
  const bool triplets = any_triplet(records);
  const py::ssize_t columns = triplets ? 6 : 4;
  py::array_t<double> out({static_cast<py::ssize_t>(records.size()), columns});
  auto v = out.mutable_unchecked<2>();
  for (size_t i = 0; i < records.size(); ++i) {
    const MatchRecord &r = records[i];
    const py::ssize_t n = static_cast<py::ssize_t>(i);
    v(n, 0) = r.first.x;
    v(n, 1) = r.first.y;
    if (triplets) {
      v(n, 2) = r.middle.x, v(n, 3) = r.middle.y, v(n, 4) = r.last.x, v(n, 5) = r.last.y;
    } else {
      v(n, 2) = r.last.x, v(n, 3) = r.last.y;
    }
  }
  return out;
}

// The records of an (N, 6) triplet or (N, 4) pair array; `need_triplets`
// refuses pairs. A middle of (-1, -1) is the absent marker. The estimator and
// the filter do not use the position numbers, which stay 0.
std::vector<MatchRecord> array_to_matches(const DoubleArray &array, bool need_triplets,
                                          const char *what) {
  if (array.ndim() != 2 || (array.shape(1) != 6 && array.shape(1) != 4) ||
      (need_triplets && array.shape(1) != 6))
    throw py::value_error(std::string(what) + " must have shape (N, 6)" +
                          (need_triplets ? "" : " or (N, 4)"));
  const auto v = array.unchecked<2>();
  const bool triplets = array.shape(1) == 6;
  std::vector<MatchRecord> records(static_cast<size_t>(array.shape(0)));
  for (py::ssize_t n = 0; n < array.shape(0); ++n) {
    MatchRecord &r = records[static_cast<size_t>(n)];
    r.first = {v(n, 0), v(n, 1), 0};
    if (triplets) {
      r.middle = {v(n, 2), v(n, 3), 0};
      if (point_absent(r.middle)) r.middle.index = -1;
      r.last = {v(n, 4), v(n, 5), 0};
    } else {
      r.middle = {-1.0, -1.0, -1};
      r.last = {v(n, 2), v(n, 3), 0};
    }
  }
  return records;
}

py::array_t<double> read_matches_py(const std::string &path) {
  std::vector<MatchRecord> records;
  int lines = -1;
  Status status;
  {
    py::gil_scoped_release release;
    errno = 0;
    status = read_matches(path.c_str(), &records, &lines);
  }
  if (status != Status::ok) raise_status(status, path);
  return matches_to_array(records);
}

void write_matches_py(const std::string &path, const DoubleArray &matches) {
  const std::vector<MatchRecord> records = array_to_matches(matches, false, "matches");
  const std::vector<int32_t> all(records.size(), 1);
  Status status;
  {
    py::gil_scoped_release release;
    errno = 0;
    status = write_support_matches(records.data(), static_cast<int>(records.size()), all.data(), path);
  }
  if (status != Status::ok) raise_status(status, path);
}

// ---- Images -------------------------------------------------------------------------

struct ImageHolder {
  QORImage *image = nullptr;
  ~ImageHolder() {
    if (image) image_free(image);
  }
};

py::array_t<uint8_t> read_image_py(const std::string &path) {
  ImageHolder held;
  ImageMessages messages;
  {
    py::gil_scoped_release release;
    held.image = image_read(path.c_str(), &messages);
  }
  if (held.image == nullptr) {
    std::string why = messages.err + messages.out;
    while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
    std::FILE *probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr) {
      const int error = errno;
      PyErr_SetObject(PyExc_OSError, py::make_tuple(error, std::strerror(error), path).ptr());
      throw py::error_already_set();
    }
    std::fclose(probe);
    throw py::value_error("cannot read image " + path + (why.empty() ? "" : ": " + why));
  }
  const QORImage *im = held.image;
  if (im->type == QOR_GRAY) {
    py::array_t<uint8_t> out({im->height, im->width});
    std::memcpy(out.mutable_data(), im->pixels, static_cast<size_t>(im->width) * im->height);
    return out;
  }
  py::array_t<uint8_t> out({im->height, im->width, 3});
  std::memcpy(out.mutable_data(), im->pixels, static_cast<size_t>(im->width) * im->height * 3);
  return out;
}

void write_image_py(const std::string &path, const py::array &array, int quality) {
  const auto pixels = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!pixels || !(pixels.ndim() == 2 || (pixels.ndim() == 3 && pixels.shape(2) == 3)))
    throw py::value_error("image must be a uint8 array of shape (H, W) or (H, W, 3)");
  if (pixels.shape(0) < 1 || pixels.shape(1) < 1 || pixels.shape(0) > (1 << 20) ||
      pixels.shape(1) > (1 << 20))
    throw py::value_error("image size out of range");
  ImageHolder held;
  const int height = static_cast<int>(pixels.shape(0));
  const int width = static_cast<int>(pixels.shape(1));
  held.image = image_create(width, height, pixels.ndim() == 2 ? QOR_GRAY : QOR_RGB);
  if (held.image == nullptr) throw std::bad_alloc();
  std::memcpy(held.image->pixels, pixels.data(),
              static_cast<size_t>(width) * height * (pixels.ndim() == 2 ? 1 : 3));
  ImageMessages messages;
  Status status;
  {
    py::gil_scoped_release release;
    errno = 0;
    status = image_write(path.c_str(), held.image, quality, &messages);
  }
  if (status == Status::invalid_argument)
    throw py::value_error("cannot write " + path + ": " + messages.err + messages.out);
  if (status != Status::ok) raise_status(status, path);
}


// ---- Tensors ------------------------------------------------------------------------

TrifocalTensor array_to_tensor(const DoubleArray &array) {
  if (array.size() != 27 || !(array.ndim() == 1 || (array.ndim() == 3 && array.shape(0) == 3 &&
                                                    array.shape(1) == 3)))
    throw py::value_error("tensor must have 27 entries, shape (27,) or (3, 3, 3)");
  TrifocalTensor t{};
  const double *v = array.data();
  for (int e = 0; e < 27; ++e) {
    if (!std::isfinite(v[e])) throw py::value_error("tensor entries must be finite");
    t.entry[e] = v[e];
  }
  return t;
}

py::array_t<double> tensor_to_array(const TrifocalTensor &t) {
  py::array_t<double> out(27);
  std::memcpy(out.mutable_data(), t.entry, sizeof t.entry);
  return out;
}

void write_tensor_py(const std::string &base, const DoubleArray &tensor) {
  const TrifocalTensor t = array_to_tensor(tensor);
  const std::string path = base + ".TM";
  errno = 0;
  const Status status = write_tensor(t, path);
  if (status != Status::ok) raise_status(status, path);
}

py::array_t<double> read_tensor_py(const std::string &base) {
  const std::string path = base + ".TM";
  TrifocalTensor t{};
  int numbers = 0;
  errno = 0;
  const Status status = read_tensor(&t, path, &numbers);
  if (status == Status::too_few)
    throw py::value_error(path + ": only " + std::to_string(numbers) + " of the 27 tensor numbers");
  if (status == Status::bad_input)
    throw py::value_error(path + ": number " + std::to_string(numbers + 1) + " is not a number");
  if (status != Status::ok) raise_status(status, path);
  return tensor_to_array(t);
}

py::array_t<double> transfer_distances_py(const DoubleArray &tensor, const DoubleArray &matches,
                                          bool affine) {
  const TrifocalTensor t = array_to_tensor(tensor);
  const std::vector<MatchRecord> records = array_to_matches(matches, true, "matches");
  const TensorMethod method = affine ? TensorMethod::affine : TensorMethod::six_point;
  py::array_t<double> out({static_cast<py::ssize_t>(records.size()), py::ssize_t(3)});
  double *d = out.mutable_data();
  {
    py::gil_scoped_release release;
    for (size_t n = 0; n < records.size(); ++n) {
      const TransferDistances td = transfer_distances(method, t, records[n]);
      d[3 * n] = td.d_last, d[3 * n + 1] = td.d_first, d[3 * n + 2] = td.d_middle;
    }
  }
  return out;
}

// ---- Estimation ---------------------------------------------------------------------

// The robust sampler's report (robust=True).
struct RobustSampling {
  bool found = false;
  std::string reason;
  int samples = 0, hypotheses = 0, local_optimisations = 0, inliers = 0;
};

struct EstimationResult {
  py::array_t<double> tensor;
  py::array_t<bool> inliers;
  double mean_error = 0.0;
  double max_error = 0.0;
  long long samples = 0;
  std::vector<std::pair<double, int>> new_best;
  // refine / robust:
  py::object refined = py::none();
  std::string refine_reason;
  bool fell_back = false;
  py::object robust = py::none();
  int rounds = 0;
  double reprojection_rms = std::numeric_limits<double>::quiet_NaN();
  double reprojection_max = std::numeric_limits<double>::quiet_NaN();
  py::object cameras = py::none();
  py::object points = py::none();
  py::object reprojection_errors = py::none();
};

// The folder this module was loaded from, taken when it is imported (a
// relative sys.path entry would not survive a change of directory).
std::string &module_folder() {
  static std::string folder;
  return folder;
}

void remember_module_folder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void *>(&remember_module_folder), &info) == 0 || !info.dli_fname)
    return;
  char resolved[PATH_MAX];
  std::string path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
  const size_t slash = path.rfind('/');
  module_folder() = slash == std::string::npos ? "." : path.substr(0, slash);
}

// The refinement stage and Ceres Solver live in tarvik-refine.so beside this
// module, opened on the first refine or robust estimation, so that importing
// tarvik loads neither. Called with the GIL held.
const RefineApi *refine_api() {
  static const RefineApi *api = nullptr;
  static std::string failure;
  if (api) return api;
  if (failure.empty()) {
    const std::string name = module_folder() + "/tarvik-refine.so";
    void *module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    const RefineApiEntry entry =
        module ? reinterpret_cast<RefineApiEntry>(dlsym(module, "ostrel_refine_api")) : nullptr;
    if (entry) api = entry();
    if (!api) {
      const char *why = dlerror();
      failure = "refine and robust need tarvik-refine.so beside the module: " +
                (why ? std::string(why) : name + ": no ostrel_refine_api");
    }
  }
  if (!api) throw py::import_error(failure);
  return api;
}

// The faithful estimation as the refinement stage runs it: quietly, its
// report kept for the result; any failure ends the stage.
struct QuietFaithful {
  const EstimationOptions *options = nullptr;
  const MatchRecord *matches = nullptr;
  int count = 0;
  bool ran = false;
  EstimationReport report;
};

int quiet_faithful(void *context, TrifocalTensor *tensor, int32_t *support) {
  QuietFaithful &q = *static_cast<QuietFaithful *>(context);
  try {
    q.report = estimate_tensor(*q.options, q.matches, q.count, support);
  } catch (const std::bad_alloc &) {
    q.report = EstimationReport{};
    q.report.status = Status::out_of_memory;
  }
  q.ran = true;
  if (q.report.status != Status::ok) return 1;
  *tensor = q.report.tensor;
  return 0;
}

void raise_estimation_failure(const EstimationReport &report) {
  if (report.status == Status::numeric_failure)
    throw std::runtime_error(std::string("numerical failure: ") +
                             (report.failure_message ? report.failure_message : ""));
  raise_status(report.status, "estimate_tensor");
}

// The refined geometry as arrays: cameras (3, 3, 4); the points of all
// triplets, (M, 3), NaN where a triplet has no finite point; their errors.
void fill_refined(const RefineReport &report, int count, EstimationResult *result) {
  py::array_t<double> cameras({3, 3, 4});
  std::memcpy(cameras.mutable_data(), report.cameras.p, sizeof report.cameras.p);
  py::array_t<double> points({static_cast<py::ssize_t>(count), py::ssize_t(3)});
  py::array_t<double> errors({static_cast<py::ssize_t>(count), py::ssize_t(3)});
  double *pt = points.mutable_data();
  double *er = errors.mutable_data();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
    const double *x = &report.points[4 * i];
    const double *e = &report.errors[3 * i];
    bool finite = std::isfinite(e[0]) && std::isfinite(e[1]) && std::isfinite(e[2]) && x[3] != 0.0;
    for (int k = 0; k < 3; ++k) {
      pt[3 * i + k] = finite ? x[k] / x[3] : nan;
      finite = finite && std::isfinite(pt[3 * i + k]);
      er[3 * i + k] = e[k];
    }
    if (!finite) pt[3 * i] = pt[3 * i + 1] = pt[3 * i + 2] = nan;
  }
  result->cameras = std::move(cameras);
  result->points = std::move(points);
  result->reprojection_errors = std::move(errors);
  result->rounds = report.rounds;
  result->reprojection_rms = report.rms;
  result->reprojection_max = report.max;
}

EstimationResult estimate_tensor_py(const DoubleArray &matches, int samples, double distance,
                                    bool affine, const std::string &scoring, bool refit,
                                    py::object stop_early, bool refine, bool robust, int threads) {
  std::vector<MatchRecord> records = array_to_matches(matches, true, "matches");
  EstimationOptions options;
  options.rule.method = affine ? TensorMethod::affine : TensorMethod::six_point;
  options.sample_size = affine ? 4 : 6;
  if (scoring == "count")
    options.rule.scoring = Scoring::count;
  else if (scoring == "l2")
    options.rule.scoring = Scoring::l2;
  else
    throw py::value_error("scoring must be \"count\" or \"l2\"");
  if (!(distance == distance)) throw py::value_error("distance must not be NaN");
  options.rule.distance = distance;
  options.samples = samples;
  options.refit = refit;
  if (!stop_early.is_none()) {
    options.stop_early = true;
    options.success_probability = stop_early.cast<double>();
  }
  if (threads < 0) throw py::value_error("threads must be 0 (all cores) or positive");
  options.threads = threads;
  const int count = static_cast<int>(records.size());
  if (count < options.sample_size)
    throw py::value_error("estimate_tensor needs at least " + std::to_string(options.sample_size) +
                          " matches, got " + std::to_string(count));
  const RefineApi *api = refine || robust ? refine_api() : nullptr;
  std::vector<int32_t> support(records.size(), 0);
  EstimationResult result;
  QuietFaithful faithful;
  faithful.options = &options, faithful.matches = records.data(), faithful.count = count;
  TrifocalTensor tensor{};  // the result's tensor
  if (!api) {
    {
      py::gil_scoped_release release;
      faithful.report = estimate_tensor(options, records.data(), count, support.data());
      faithful.ran = true;
    }
    tensor = faithful.report.tensor;
  } else {
    // ostrel -g / -r: the stage decides, the faithful estimation runs quietly.
    StageOptions so;
    so.distance = distance;
    so.affine = affine;
    so.robust = robust;
    so.samples = samples;
    so.stop_early = options.stop_early;
    so.success_probability = options.success_probability;
    StageCalls calls;
    calls.faithful = quiet_faithful;
    calls.context = &faithful;
    StageResult stage;
    int status;
    {
      py::gil_scoped_release release;
      status = api->run_refine_stage(records.data(), count, so, calls, &tensor, support.data(),
                                     &stage);
    }
    if (status != 0) raise_estimation_failure(faithful.report);
    result.refined = py::bool_(stage.refined != 0);
    result.refine_reason = stage.refined ? "" : stage.report.reason;
    result.fell_back = stage.fell_back != 0;
    if (stage.robust_ran) {
      RobustSampling rs;
      rs.found = stage.robust_found != 0;
      rs.reason = stage.robust_found ? "" : stage.robust.reason;
      rs.samples = stage.robust.samples;
      rs.hypotheses = stage.robust.hypotheses;
      rs.local_optimisations = stage.robust.local_optimisations;
      rs.inliers = stage.robust.inliers;
      result.robust = py::cast(rs);
    }
    if (stage.refined) fill_refined(stage.report, count, &result);
  }
  const EstimationReport &report = faithful.report;
  if (report.status != Status::ok) raise_estimation_failure(report);
  result.tensor = tensor_to_array(tensor);
  result.inliers = py::array_t<bool>(static_cast<py::ssize_t>(count));
  bool *flags = result.inliers.mutable_data();
  for (int n = 0; n < count; ++n) flags[n] = support[static_cast<size_t>(n)] != 0;
  if (faithful.ran) {
    result.mean_error = report.refit.mean;
    result.max_error = report.refit.maximum;
    result.samples = report.samples_drawn;
    for (const BestEvent &e : report.best_events) result.new_best.emplace_back(e.score, e.count);
  } else {
    // robust=True refined without the faithful estimation: no assessment.
    result.mean_error = result.max_error = std::numeric_limits<double>::quiet_NaN();
  }
  return result;
}

// ---- Disparity-gradient filter ------------------------------------------------------

struct FilterResult {
  py::array_t<bool> keep;
  py::array_t<double> scores;
  double median = 0.0;
  int passes = 0;
};

FilterResult filter_matches_py(const DoubleArray &matches, double median_scale, int threads) {
  const std::vector<MatchRecord> records = array_to_matches(matches, false, "matches");
  if (threads < 0) throw py::value_error("threads must be 0 (all cores) or positive");
  if (records.empty()) throw py::value_error("filter_matches needs at least one match");
  FilterReport report;
  Status status;
  {
    py::gil_scoped_release release;
    // 0 threads: every core the system reports, as pelmix without -p.
    const unsigned cores = std::thread::hardware_concurrency();
    const int used = threads > 0 ? threads : (cores > 0 ? static_cast<int>(cores) : 1);
    status = filter_by_disparity_gradient(records.data(), static_cast<int>(records.size()),
                                          median_scale, &report, nullptr, kGradientStoreBudget, used);
  }
  if (status != Status::ok) raise_status(status, "filter_matches");
  FilterResult result;
  const py::ssize_t n = static_cast<py::ssize_t>(records.size());
  result.keep = py::array_t<bool>(n);
  result.scores = py::array_t<double>(n);
  for (py::ssize_t i = 0; i < n; ++i) {
    result.keep.mutable_data()[i] = report.keep[static_cast<size_t>(i)] != 0;
    result.scores.mutable_data()[i] = report.scores[static_cast<size_t>(i)];
  }
  result.median = report.median;
  result.passes = report.passes;
  return result;
}

// ---- Track chaining -----------------------------------------------------------------

using Track = std::vector<std::tuple<long long, double, double>>;

// vandrel's chaining of the triplets of images k, k+1, k+2 (the k-th array)
// into tracks. A triplet whose consecutive positions lie at most
// min_disparity whole pixels apart is dropped, as vandrel's reader drops it.
std::vector<Track> chain_tracks_py(const std::vector<DoubleArray> &triplet_arrays, int min_length,
                                   double min_disparity, long long first_image, bool raw) {
  if (!(min_disparity == min_disparity)) throw py::value_error("min_disparity must not be NaN");
  if (min_disparity > 2e9 || min_disparity < -2e9) throw py::value_error("min_disparity out of range");
  const int disparity = static_cast<int>(min_disparity);  // vandrel's -d is a whole number
  std::vector<TripletBuffer> buffers(triplet_arrays.size());
  for (size_t f = 0; f < triplet_arrays.size(); ++f) {
    const DoubleArray &a = triplet_arrays[f];
    if (a.ndim() != 2 || a.shape(1) != 6)
      throw py::value_error("every triplet array must have shape (N, 6)");
    const auto v = a.unchecked<2>();
    for (py::ssize_t n = 0; n < a.shape(0); ++n) {
      const Triplet t{{v(n, 0), v(n, 1)}, {v(n, 2), v(n, 3)}, {v(n, 4), v(n, 5)}};
      if (!disparity_too_small(t, disparity)) buffers[f].triplets.push_back(t);
    }
  }
  ChainTable table;
  {
    py::gil_scoped_release release;
    for (size_t f = 0; f < buffers.size(); ++f)
      chain_triplets(static_cast<long long>(f) + 1, buffers[f], &table);
  }
  std::vector<Track> tracks;
  for (const Chain &chain : table.chains) {
    if (static_cast<long long>(chain.points.size()) < min_length) continue;
    Track track;
    for (size_t k = 0; k < chain.points.size(); ++k) {
      const ChainPoint &cp = chain.points[k];
      const ImagePoint p = raw ? cp.point : ImagePoint{cp.sum.x / cp.count, cp.sum.y / cp.count};
      track.emplace_back(first_image - 1 + chain.firstPosition + static_cast<long long>(k), p.x, p.y);
    }
    tracks.push_back(std::move(track));
  }
  return tracks;
}

}  // namespace

PYBIND11_MODULE(tarvik, m) {
  m.doc() = "Trifocal tensor estimation, disparity-gradient filtering, track chaining and image "
            "files of the TARVIK toolkit, on NumPy arrays.";
  m.attr("__version__") = kTarvikVersion;
  remember_module_folder();

  m.def("read_matches", &read_matches_py, py::arg("path"),
        "Reads a match file: an (N, 6) float64 array for a triplet file (x1 y1 x2 y2 x3 y3 of\n"
        "the first, middle and last image), (N, 4) for a pair file, one row per line, as the\n"
        "programs read it (a short line keeps the values of the line before).");
  m.def("write_matches", &write_matches_py, py::arg("path"), py::arg("matches"),
        "Writes an (N, 6) or (N, 4) array as a match file with six decimals.");
  py::class_<RobustSampling>(m, "RobustSampling",
                             "The robust sampler's run (robust=True): ostrel's \"Robust sampling\" block.")
      .def_readonly("found", &RobustSampling::found, "it gave the starting cameras")
      .def_readonly("reason", &RobustSampling::reason, "why not, when found is False")
      .def_readonly("samples", &RobustSampling::samples, "samples drawn")
      .def_readonly("hypotheses", &RobustSampling::hypotheses, "camera hypotheses scored")
      .def_readonly("local_optimisations", &RobustSampling::local_optimisations,
                    "local optimisations of a new best hypothesis")
      .def_readonly("inliers", &RobustSampling::inliers, "inliers of the best hypothesis");
  py::class_<EstimationResult>(m, "EstimationResult",
                               "Result of estimate_tensor; the fields of ostrel's run.")
      .def_readonly("tensor", &EstimationResult::tensor,
                    "(27,) tensor, entry T(i, j, k) at 9i + 3j + k: the refined one when refined")
      .def_readonly("inliers", &EstimationResult::inliers,
                    "(N,) bool support flags: the re-selected ones when refined")
      .def_readonly("mean_error", &EstimationResult::mean_error,
                    "faithful estimation's final assessment: mean transfer distance (NaN when\n"
                    "robust=True refined without running it)")
      .def_readonly("max_error", &EstimationResult::max_error,
                    "faithful estimation's final assessment: largest transfer distance (or NaN)")
      .def_readonly("samples", &EstimationResult::samples,
                    "samples the faithful estimation drew (0 when it did not run)")
      .def_readonly("new_best", &EstimationResult::new_best, "(score, count) of each new best tensor")
      .def_readonly("refined", &EstimationResult::refined,
                    "with refine or robust: the refined geometry replaced the faithful result;\n"
                    "None without either")
      .def_readonly("refine_reason", &EstimationResult::refine_reason,
                    "why the faithful result was kept (refined False), else \"\"")
      .def_readonly("fell_back", &EstimationResult::fell_back,
                    "robust=True: the faithful estimation ran after the robust sampler (no robust\n"
                    "estimate, or one the refinement could not use)")
      .def_readonly("robust", &EstimationResult::robust, "RobustSampling with robust=True, else None")
      .def_readonly("rounds", &EstimationResult::rounds, "adjustment / re-selection rounds when refined")
      .def_readonly("reprojection_rms", &EstimationResult::reprojection_rms,
                    "RMS reprojection error of the supporting triplets, pixels, when refined")
      .def_readonly("reprojection_max", &EstimationResult::reprojection_max,
                    "largest reprojection error of the supporting triplets, pixels, when refined")
      .def_readonly("cameras", &EstimationResult::cameras,
                    "(3, 3, 4) refined cameras of the first, middle and last image, pixel\n"
                    "coordinates; None unless refined")
      .def_readonly("points", &EstimationResult::points,
                    "(N, 3) scene point of every triplet (supporting or not), triangulated by the\n"
                    "refined cameras; a NaN row where a triplet has no finite point; None unless\n"
                    "refined")
      .def_readonly("reprojection_errors", &EstimationResult::reprojection_errors,
                    "(N, 3) reprojection error of each triplet's point in the first, middle and\n"
                    "last image, pixels (inf where it could not be triangulated); None unless\n"
                    "refined");
  m.def("estimate_tensor", &estimate_tensor_py, py::arg("matches"), py::kw_only(),
        py::arg("samples") = 1000, py::arg("distance") = 1.0, py::arg("affine") = false,
        py::arg("scoring") = "count", py::arg("refit") = true, py::arg("stop_early") = py::none(),
        py::arg("refine") = false, py::arg("robust") = false, py::arg("threads") = 0,
        "Estimates the trifocal tensor of (N, 6) triplets by random sampling, exactly as\n"
        "ostrel does with the same options: samples is -n, distance -d, affine -a,\n"
        "scoring \"count\" or \"l2\" (-c / -l), refit=False is -m, stop_early=p is -s p,\n"
        "threads -p (0: all cores). refine=True is -g (geometric refinement of the\n"
        "estimate), robust=True is -r (robust sampling of the cameras, then the\n"
        "refinement; implies refine): the result then says whether the refined geometry\n"
        "replaced the faithful result (refined, refine_reason) and holds the cameras,\n"
        "points and reprojection errors. The refinement module tarvik-refine.so is opened\n"
        "on the first such call (ImportError when it is missing).");
  m.def("write_tensor", &write_tensor_py, py::arg("base"), py::arg("tensor"),
        "Writes base + \".TM\" as ostrel writes its tensor file.");
  m.def("read_tensor", &read_tensor_py, py::arg("base"), "Reads base + \".TM\": a (27,) array.");
  m.def("transfer_distances", &transfer_distances_py, py::arg("tensor"), py::arg("matches"),
        py::arg("affine") = false,
        "(N, 3) transfer distances d_last, d_first, d_middle of each triplet under the tensor.");
  py::class_<FilterResult>(m, "FilterResult", "Result of filter_matches; pelmix's decisions.")
      .def_readonly("keep", &FilterResult::keep, "(N,) bool: the matches pelmix writes")
      .def_readonly("scores", &FilterResult::scores, "(N,) final scores, 999999.0 when removed")
      .def_readonly("median", &FilterResult::median, "median of the last pass")
      .def_readonly("passes", &FilterResult::passes, "passes made");
  m.def("filter_matches", &filter_matches_py, py::arg("matches"), py::arg("median_scale") = 3.5,
        py::arg("threads") = 0,
        "pelmix's disparity-gradient filter on (N, 4) pairs or (N, 6) triplets (the middle\n"
        "position is ignored): keep is exactly the selection pelmix writes.");
  m.def("chain_tracks", &chain_tracks_py, py::arg("triplet_arrays"), py::kw_only(),
        py::arg("min_length") = 4, py::arg("min_disparity") = 5.0, py::arg("first_image") = 1,
        py::arg("raw") = false,
        "vandrel's chaining: triplet_arrays[k] holds the (N, 6) triplets of the images\n"
        "first_image + k, + k + 1, + k + 2. Returns the tracks of at least min_length points,\n"
        "each a list of (image number, x, y); positions are averaged over the observations as\n"
        "in vandrel's track file, or as first observed with raw=True (vandrel -b).\n"
        "min_disparity is taken in whole pixels, as vandrel's -d.");
  m.def("read_image", &read_image_py, py::arg("path"),
        "Reads an image file by its extension: a uint8 array (H, W) for gray images,\n"
        "(H, W, 3) for colour images.");
  m.def("write_image", &write_image_py, py::arg("path"), py::arg("array"), py::arg("quality") = 80,
        "Writes a uint8 (H, W) or (H, W, 3) array, the format chosen by the extension;\n"
        "`quality` is the JPEG quality.");
}
