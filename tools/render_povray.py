#!/usr/bin/python3
"""Renders three views of a POV-Ray scene from cameras placed here, with their
true projection matrices, as test data for the matcher and the toolkit.

The scene file is included unchanged by a small wrapper file that appends a
camera statement of its own; POV-Ray uses the last camera of a scene, so the
wrapper's camera replaces the scene's. The camera is given by explicit
location, direction, right and up vectors (no look_at, no angle), which makes
its projection exact:

  POV-Ray shoots, for the image point with screen coordinates (u, v), both in
  [-1/2, 1/2], u growing to the right and v upwards, the ray
      location + t (direction + u right + v up).
  Screen coordinates meet pixel coordinates (x right, y down, the centre of
  the top-left pixel at (0, 0), as OpenCV reports keypoints) at
      u = (x + 1/2) / W - 1/2,   v = 1/2 - (y + 1/2) / H.
  With right, up and direction orthogonal, a scene point X at d = X - location
  has t = d.D / |D|^2, u = (d.R / |R|^2) / t and v = (d.U / |U|^2) / t, so
      P = [ W R/|R|^2 + cx D/|D|^2 ]
          [-H U/|U|^2 + cy D/|D|^2 ] [I | -location],  cx = (W-1)/2, cy = (H-1)/2.
          [          D/|D|^2       ]
  POV-Ray's coordinates are left-handed (x right, y up, z into the screen);
  the formula does not depend on handedness, only the basis built from a
  viewing direction does: right = up_world x forward, up = forward x right
  with the usual cross product gives a left-handed camera frame whose image
  is not mirrored.

--check renders small spheres at known places instead of a scene and
compares their centroids in the image with the projections.

Writes into the output folder: view1.png view2.png view3.png, cameras.txt
(one line per view, the 12 entries of its 3 x 4 matrix row by row) and
scene.txt (the scene and the cameras used). With --match also triplets.txt
from tools/match_triplets.py.

Usage:
  tools/render_povray.py SCENE.pov OUTDIR --at X Y Z --look X Y Z
        [--baseline DX DY DZ] [--angle DEGREES] [--size W H] [--match]
  tools/render_povray.py --check OUTDIR
Exit status 0, 1 wrong command line, 2 POV-Ray failed or a file cannot be written.
"""
import argparse
import math
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

POVRAY = "povray"
INCLUDE = "/usr/share/povray-3.7/include"


class RenderError(Exception):
    pass


def camera_frame(location, look_at, angle, width, height, world_up=(0.0, 1.0, 0.0)):
    """(right, up, direction) vectors of a level camera at `location` looking
    at `look_at` with horizontal field of view `angle` degrees: |up| = 1,
    |right| = W/H, |direction| = |right| / (2 tan(angle/2))."""
    location = np.asarray(location, float)
    forward = np.asarray(look_at, float) - location
    forward /= np.linalg.norm(forward)
    right = np.cross(np.asarray(world_up, float), forward)
    right /= np.linalg.norm(right)
    up = np.cross(forward, right)
    aspect = width / height
    right = right * aspect
    direction = forward * (0.5 * aspect / math.tan(math.radians(angle) / 2.0))
    return right, up, direction


def projection_matrix(location, right, up, direction, width, height):
    """The 3 x 4 matrix mapping homogeneous scene points to pixel positions (see the module text)."""
    location = np.asarray(location, float)
    r = np.asarray(right, float) / np.dot(right, right)
    u = np.asarray(up, float) / np.dot(up, up)
    d = np.asarray(direction, float) / np.dot(direction, direction)
    cx, cy = 0.5 * (width - 1), 0.5 * (height - 1)
    m = np.array([width * r + cx * d, -height * u + cy * d, d])
    return np.hstack([m, -(m @ location)[:, None]])


def pov_vector(v):
    return "<%.12g, %.12g, %.12g>" % tuple(v)


def camera_statement(location, right, up, direction):
    return ("camera {\n  perspective\n  location %s\n  right %s\n  up %s\n  direction %s\n}\n"
            % (pov_vector(location), pov_vector(right), pov_vector(up), pov_vector(direction)))


def render(scene_text, scene_folder, output, width, height, log):
    """Runs POV-Ray on scene_text (with the scene's folder on the include path)
    without anti-aliasing jitter, writing a PNG."""
    work = tempfile.mkdtemp(prefix="render_povray.")
    try:
        wrapper = os.path.join(work, "wrapper.pov")
        with open(wrapper, "w") as f:
            f.write(scene_text)
        command = [POVRAY, "+I" + wrapper, "+O" + output, "+W%d" % width, "+H%d" % height,
                   "+FN", "-D", "-V", "+A0.1", "+AM2", "+R3", "-J", "+L" + INCLUDE, "+WT1"]
        if scene_folder:
            command.append("+L" + scene_folder)
        r = subprocess.run(command, cwd=work, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        log.write(r.stderr)
        if r.returncode != 0 or not os.path.exists(output):
            raise RenderError("povray failed on %s (status %d): %s" %
                              (output, r.returncode, r.stderr.strip().splitlines()[-1:] or ""))
    finally:
        shutil.rmtree(work)


def three_cameras(at, look, baseline, angle, width, height):
    """Three cameras at at - baseline, at, at + baseline, each looking at `look`:
    a list of (location, right, up, direction)."""
    at, baseline = np.asarray(at, float), np.asarray(baseline, float)
    cameras = []
    for k in (-1, 0, 1):
        location = at + k * baseline
        cameras.append((location,) + camera_frame(location, look, angle, width, height))
    return cameras


def write_cameras(name, matrices):
    with open(name, "w") as f:
        for p in matrices:
            f.write(" ".join("%.10g" % v for v in p.ravel()) + "\n")


def render_scene(scene, out, at, look, baseline, angle, width, height, match=False):
    os.makedirs(out, exist_ok=True)
    with open(scene) as f:
        text = f.read()
    cameras = three_cameras(at, look, baseline, angle, width, height)
    with open(os.path.join(out, "render.log"), "w") as log:
        for k, c in enumerate(cameras, 1):
            render(text + "\n" + camera_statement(*c), os.path.dirname(os.path.abspath(scene)),
                   os.path.join(out, "view%d.png" % k), width, height, log)
    write_cameras(os.path.join(out, "cameras.txt"),
                  [projection_matrix(*c, width, height) for c in cameras])
    with open(os.path.join(out, "scene.txt"), "w") as f:
        f.write("scene %s\nsize %d %d\nangle %g\nat %s\nlook %s\nbaseline %s\n" %
                (scene, width, height, angle, " ".join(map(str, at)), " ".join(map(str, look)),
                 " ".join(map(str, baseline))))
    if match:
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import match_triplets
        m = match_triplets.match_triplets([os.path.join(out, "view%d.png" % k) for k in (1, 2, 3)])
        match_triplets.write_match_file(os.path.join(out, "triplets.txt"), m.triplets)
        print("%s: %d triplets" % (out, len(m.triplets)))


# Small white spheres on black, for --check: their centroids must sit at the
# projections of their centres.
CHECK_SPHERES = [(-3.0, -1.5, 4.0), (2.5, 1.0, 6.0), (0.0, 0.0, 5.0), (-1.0, 2.0, 8.0), (3.5, -2.0, 9.0),
                 (1.2, -0.4, 3.0), (-4.0, 2.5, 10.0)]


def check_cameras(out, width=320, height=240):
    os.makedirs(out, exist_ok=True)
    spheres = "".join("sphere { %s, 0.08 pigment { rgb 1 } finish { ambient 1 diffuse 0 } }\n"
                      % pov_vector(s) for s in CHECK_SPHERES)
    # The scene's own camera, which the appended one must replace.
    text = ("#version 3.7;\nglobal_settings { assumed_gamma 1.0 }\nbackground { rgb 0 }\n"
            "camera { location <0, 0, -10> look_at <0, 0, 0> }\n" + spheres)
    cameras = three_cameras((0.3, 0.4, -2.0), (0.0, 0.2, 6.0), (0.8, 0.1, 0.2), 70.0, width, height)
    cv2 = __import__("cv2")
    worst = 0.0
    with open(os.path.join(out, "render.log"), "w") as log:
        for k, c in enumerate(cameras, 1):
            name = os.path.join(out, "check%d.png" % k)
            render(text + camera_statement(*c), None, name, width, height, log)
            image = cv2.imread(name, cv2.IMREAD_GRAYSCALE).astype(float)
            p = projection_matrix(*c, width, height)
            for s in CHECK_SPHERES:
                q = p @ np.append(s, 1.0)
                x, y = q[0] / q[2], q[1] / q[2]
                x0, y0 = int(round(x)), int(round(y))
                if not (8 <= x0 < width - 8 and 8 <= y0 < height - 8):
                    continue
                window = image[y0 - 8:y0 + 9, x0 - 8:x0 + 9]
                ys, xs = np.mgrid[y0 - 8:y0 + 9, x0 - 8:x0 + 9]
                total = window.sum()
                if total == 0:
                    raise RenderError("view %d: no sphere near (%.1f, %.1f)" % (k, x, y))
                cx, cy = (window * xs).sum() / total, (window * ys).sum() / total
                error = math.hypot(cx - x, cy - y)
                worst = max(worst, error)
                print("view %d sphere %s: projected (%.2f, %.2f) seen (%.2f, %.2f) error %.3f px"
                      % (k, s, x, y, cx, cy, error))
    print("largest error %.3f px" % worst)
    return worst


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        sys.stderr.write("%s: error: %s\n" % (self.prog, message))
        sys.exit(1)


def main(argv):
    p = Parser(description="Render three views of a POV-Ray scene with their true cameras.")
    p.add_argument("scene", nargs="?")
    p.add_argument("out")
    p.add_argument("--check", action="store_true", help="render test spheres and check the cameras")
    p.add_argument("--at", type=float, nargs=3, help="centre of the middle camera")
    p.add_argument("--look", type=float, nargs=3, help="point all three cameras look at")
    p.add_argument("--baseline", type=float, nargs=3, default=[1.0, 0.0, 0.0],
                   help="offset from one camera to the next (default 1 0 0)")
    p.add_argument("--angle", type=float, default=50.0, help="horizontal field of view, degrees")
    p.add_argument("--size", type=int, nargs=2, default=[1024, 768], metavar=("W", "H"))
    p.add_argument("--match", action="store_true", help="also write triplets.txt with the matcher")
    args = p.parse_args(argv)
    try:
        if args.check:
            return 0 if check_cameras(args.out) < 0.25 else 2
        if not args.scene or args.at is None or args.look is None:
            p.error("a scene, --at and --look are needed")
        render_scene(args.scene, args.out, args.at, args.look, args.baseline, args.angle,
                     args.size[0], args.size[1], args.match)
    except (RenderError, OSError) as e:
        sys.stderr.write("render_povray: %s\n" % e)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
