"""Random match files for the speed and terminal tests: triplets of pure
noise, and pairs of a smooth disparity field with a share of gross outliers.
Both are the same for the same seed."""
import random


def write_noise_triplets(path, count, seed=20261209):
    rng = random.Random(seed)
    with open(path, "w") as f:
        for _ in range(count):
            f.write(" ".join("%.3f" % rng.uniform(0, 640) for _ in range(6)) + "\n")


def write_disparity_pairs(path, count, seed=20261209, outliers=0.2):
    rng = random.Random(seed)
    with open(path, "w") as f:
        for _ in range(count):
            x, y = rng.uniform(0, 640), rng.uniform(0, 480)
            if rng.random() < outliers:
                u, v = rng.uniform(0, 640), rng.uniform(0, 480)
            else:
                u, v = x + 10 + 0.02 * x + rng.gauss(0, 0.5), y + 3 + rng.gauss(0, 0.5)
            f.write("%.3f %.3f %.3f %.3f\n" % (x, y, u, v))
