// Tensor from cameras, and the epipoles of a tensor.
#include "epipoles.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fixed_arrays.h"
#include "numeric.h"
#include "scene_fixture.h"

namespace {

void load(const scene::Camera &cam, FixedMatrix<3, 4> &m) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) m[r + 1][c + 1] = cam.m[r][c];
}

TrifocalTensor tensor_of(const scene::Scene &s) {
  FixedMatrix<3, 4> l, m, f;
  load(s.last, l);
  load(s.middle, m);
  load(s.first, f);
  TrifocalTensor t;
  tensor_from_cameras(l.get(), m.get(), f.get(), &t);
  return t;
}

// Ratio t / reference, taken at the reference's largest entry; the two
// tensors agree up to this factor.
double proportionality_error(const TrifocalTensor &t, const TrifocalTensor &reference) {
  int big = 0;
  for (int n = 1; n < 27; ++n)
    if (std::fabs(reference[n]) > std::fabs(reference[big])) big = n;
  const double factor = t[big] / reference[big];
  double worst = 0.0;
  for (int n = 0; n < 27; ++n)
    worst = std::fmax(worst, std::fabs(t[n] - factor * reference[n]) / std::fabs(t[big]));
  return worst;
}

// Centre of the camera: the null vector of its 3x4 matrix (cofactors).
void camera_centre(const scene::Camera &cam, double centre[4]) {
  for (int col = 0; col < 4; ++col) {
    double minor[3][3];
    for (int r = 0; r < 3; ++r)
      for (int c = 0, cc = 0; c < 4; ++c)
        if (c != col) minor[r][cc++] = cam.m[r][c];
    const double det = minor[0][0] * (minor[1][1] * minor[2][2] - minor[1][2] * minor[2][1]) -
                       minor[0][1] * (minor[1][0] * minor[2][2] - minor[1][2] * minor[2][0]) +
                       minor[0][2] * (minor[1][0] * minor[2][1] - minor[1][1] * minor[2][0]);
    centre[col] = (col % 2 == 0) ? det : -det;
  }
}

// |cos| of the angle between e and the image of the last camera's centre.
double epipole_alignment(const double e[3], const scene::Camera &cam, const double centre[4]) {
  double img[3], norm_img = 0.0, norm_e = 0.0, dot = 0.0;
  for (int r = 0; r < 3; ++r) {
    img[r] = 0.0;
    for (int c = 0; c < 4; ++c) img[r] += cam.m[r][c] * centre[c];
    norm_img += img[r] * img[r];
    norm_e += e[r] * e[r];
    dot += e[r] * img[r];
  }
  EXPECT_NEAR(norm_e, 1.0, 1e-12);
  return std::fabs(dot) / std::sqrt(norm_img * norm_e);
}

TEST(TensorFromCameras, ExactTripletsSatisfyTheRelations) {
  for (uint64_t seed : {1u, 2u, 3u}) {
    const scene::Scene s = scene::random_scene(seed, 25);
    const TrifocalTensor t = tensor_of(s);
    for (const MatchRecord &r : s.triplets)
      EXPECT_LT(scene::relative_relation_error(t, r), 1e-11) << "seed " << seed;
  }
}

TEST(TensorFromCameras, CommonTransformOfTheCamerasKeepsTheTensor) {
  const scene::Scene s = scene::random_scene(7, 10);
  scene::Random rnd(77);
  double h[4][4];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) h[r][c] = (r == c ? 2.0 : 0.0) + rnd.uniform(-1, 1);
  scene::Scene moved = s;
  for (scene::Camera *cam : {&moved.first, &moved.middle, &moved.last}) {
    scene::Camera before = *cam;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) {
        cam->m[r][c] = 0.0;
        for (int k = 0; k < 4; ++k) cam->m[r][c] += before.m[r][k] * h[k][c];
      }
  }
  const TrifocalTensor t = tensor_of(s);
  const TrifocalTensor tm = tensor_of(moved);
  EXPECT_LT(proportionality_error(tm, t), 1e-10);
  for (const MatchRecord &r : s.triplets) EXPECT_LT(scene::relative_relation_error(tm, r), 1e-10);
}

TEST(TensorFromCameras, CanonicalLastCameraGivesTheCameraForm) {
  const scene::Scene s = scene::random_scene(11, 0);
  FixedMatrix<3, 4> l, m, f;
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) l[r][c] = (r == c) ? 1.0 : 0.0;
  load(s.middle, m);
  load(s.first, f);
  const FixedMatrix<3, 4> m0 = m, f0 = f;
  TrifocalTensor t;
  tensor_from_cameras(l.get(), m.get(), f.get(), &t);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) {
      EXPECT_NEAR(m[r][c], m0[r][c], 1e-12 * std::fabs(m0[r][c]) + 1e-12);
      EXPECT_NEAR(f[r][c], f0[r][c], 1e-12 * std::fabs(f0[r][c]) + 1e-12);
    }
  // T(i,j,k) = A(j,i) e_f[k] - e_m[j] B(k,i).
  EXPECT_DOUBLE_EQ(t(1, 2, 0), m0[3][2] * f0[1][4] - m0[3][4] * f0[1][2]);
  EXPECT_DOUBLE_EQ(t(0, 1, 2), m0[2][1] * f0[3][4] - m0[2][4] * f0[3][1]);
}

TEST(TensorFromCameras, LastCameraBecomesCanonical) {
  const scene::Scene s = scene::random_scene(5, 0);
  FixedMatrix<3, 4> l, m, f;
  load(s.last, l);
  load(s.middle, m);
  load(s.first, f);
  TrifocalTensor t;
  tensor_from_cameras(l.get(), m.get(), f.get(), &t);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(l[r][c], r == c ? 1.0 : 0.0);
}

TEST(TensorEpipoles, ImagesOfTheLastCentreUpToSignAndScale) {
  for (uint64_t seed : {21u, 22u, 23u, 24u}) {
    const scene::Scene s = scene::random_scene(seed, 0);
    const TrifocalTensor t = tensor_of(s);
    double e_m[3], e_f[3], centre[4];
    tensor_epipoles(t, e_m, e_f);
    camera_centre(s.last, centre);
    EXPECT_NEAR(epipole_alignment(e_m, s.middle, centre), 1.0, 1e-10) << "seed " << seed;
    EXPECT_NEAR(epipole_alignment(e_f, s.first, centre), 1.0, 1e-10) << "seed " << seed;

    // Each slice's left null vector is perpendicular to e_m, each right null
    // vector to e_f.
    for (int i = 0; i < 3; ++i) {
      FixedMatrix<3, 3> a, v;
      FixedVector<3> w;
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) a[j + 1][k + 1] = t(i, j, k);
      ASSERT_EQ(svdcmp(a.get(), 3, 3, w.get(), v.get()), Status::ok);
      const int n = index_of_min(w.get(), 3);
      double du = 0.0, dv = 0.0;
      for (int r = 0; r < 3; ++r) {
        du += a[r + 1][n] * e_m[r];
        dv += v[r + 1][n] * e_f[r];
      }
      EXPECT_NEAR(du, 0.0, 1e-10);
      EXPECT_NEAR(dv, 0.0, 1e-10);
    }
  }
}

// A tensor built by the camera form from chosen A, B, e_m, e_f gives back
// exactly those epipoles, normalised.
TEST(TensorEpipoles, CameraFormWithChosenEpipoles) {
  const double a[3][3] = {{1.0, 0.2, -0.3}, {0.1, 0.9, 0.4}, {-0.2, 0.3, 1.1}};
  const double b[3][3] = {{0.8, -0.1, 0.5}, {0.3, 1.2, -0.2}, {0.1, 0.4, 0.7}};
  const double em[3] = {3.0, -4.0, 12.0};  // norm 13
  const double ef[3] = {-1.0, 2.0, 2.0};   // norm 3
  TrifocalTensor t;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) t(i, j, k) = a[j][i] * ef[k] - em[j] * b[k][i];
  double e_m[3], e_f[3];
  tensor_epipoles(t, e_m, e_f);
  const double sm = (e_m[2] > 0) ? 1.0 : -1.0;
  const double sf = (e_f[2] > 0) ? 1.0 : -1.0;
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(sm * e_m[r], em[r] / 13.0, 1e-12);
    EXPECT_NEAR(sf * e_f[r], ef[r] / 3.0, 1e-12);
  }
}

}  // namespace
