"""Type stubs of the tarvik extension module: trifocal tensor estimation,
disparity-gradient filtering, track chaining and image files on NumPy arrays."""
from typing import List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

__version__: str

class EstimationResult:
    tensor: npt.NDArray[np.float64]               # (27,), entry T(i, j, k) at 9i + 3j + k
    inliers: npt.NDArray[np.bool_]                # (N,)
    mean_error: float                             # final assessment: mean transfer distance of the inliers
    max_error: float                              # final assessment: largest transfer distance
    samples: int                                  # tensors computed
    new_best: List[Tuple[float, int]]             # (score, supporting count) of each new best tensor
    cameras: Optional[npt.NDArray[np.float64]]    # (3, 3, 4) first, middle, last; with refine or robust
    points: Optional[npt.NDArray[np.float64]]     # (M, 3); with refine or robust
    reprojection_errors: Optional[npt.NDArray[np.float64]]  # (M, 3); with refine or robust

class FilterResult:
    keep: npt.NDArray[np.bool_]       # (N,)
    scores: npt.NDArray[np.float64]   # (N,), 999999.0 for removed matches
    median: float
    passes: int

def read_matches(path: str) -> npt.NDArray[np.float64]: ...
def write_matches(path: str, matches: npt.ArrayLike) -> None: ...
def estimate_tensor(matches: npt.ArrayLike, *, samples: int = 1000, distance: float = 1.0,
                    affine: bool = False, scoring: str = "count", refit: bool = True,
                    stop_early: Optional[float] = None, refine: bool = False,
                    robust: bool = False, threads: int = 0) -> EstimationResult: ...
def write_tensor(base: str, tensor: npt.ArrayLike) -> None: ...
def read_tensor(base: str) -> npt.NDArray[np.float64]: ...
def transfer_distances(tensor: npt.ArrayLike, matches: npt.ArrayLike,
                       affine: bool = False) -> npt.NDArray[np.float64]: ...
def filter_matches(matches: npt.ArrayLike, median_scale: float = 3.5,
                   threads: int = 0) -> FilterResult: ...
def chain_tracks(triplet_arrays: Sequence[npt.ArrayLike], *, min_length: int = 4,
                 min_disparity: float = 5.0, first_image: int = 1
                 ) -> List[List[Tuple[int, float, float]]]: ...
def read_image(path: str) -> npt.NDArray[np.uint8]: ...
def write_image(path: str, array: npt.ArrayLike, quality: int = 80) -> None: ...
