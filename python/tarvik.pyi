"""Type stubs of the tarvik extension module: trifocal tensor estimation,
disparity-gradient filtering, track chaining and image files on NumPy arrays."""
from typing import List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

__version__: str

class RobustSampling:
    """The robust sampler's run (robust=True): ostrel's "Robust sampling" block."""
    found: bool                  # it gave the starting cameras
    reason: str                  # why not, when found is False
    samples: int
    hypotheses: int
    local_optimisations: int
    inliers: int                 # inliers of the best hypothesis

class EstimationResult:
    tensor: npt.NDArray[np.float64]               # (27,), entry T(i, j, k) at 9i + 3j + k; refined when refined
    inliers: npt.NDArray[np.bool_]                # (N,); the re-selected support when refined
    mean_error: float                             # faithful final assessment: mean transfer distance of the inliers
    max_error: float                              # faithful final assessment: largest transfer distance
    samples: int                                  # tensors computed by the faithful estimation
    new_best: List[Tuple[float, int]]             # (score, supporting count) of each new best tensor
    # With refine or robust (None / defaults without either):
    refined: Optional[bool]                       # the refined geometry replaced the faithful result
    refine_reason: str                            # why the faithful result was kept, "" when refined
    fell_back: bool                               # robust: the faithful estimation ran after the sampler
    robust: Optional[RobustSampling]              # with robust
    rounds: int                                   # adjustment / re-selection rounds
    reprojection_rms: float                       # over the supporting triplets, pixels (NaN unless refined)
    reprojection_max: float
    cameras: Optional[npt.NDArray[np.float64]]    # (3, 3, 4) first, middle, last, pixels; when refined
    points: Optional[npt.NDArray[np.float64]]     # (N, 3) of every triplet, NaN rows without a finite point
    reprojection_errors: Optional[npt.NDArray[np.float64]]  # (N, 3) first, middle, last; inf: no point

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
                 min_disparity: float = 5.0, first_image: int = 1, raw: bool = False
                 ) -> List[List[Tuple[int, float, float]]]: ...
def read_image(path: str) -> npt.NDArray[np.uint8]: ...
def write_image(path: str, array: npt.ArrayLike, quality: int = 80) -> None: ...
