"""Pictures between numpy arrays and files, and where array rows lie in the unit square."""
import numpy as np
import pytest

import warpix


def gradient(height, width, channels, seed=3):
    rng = np.random.default_rng(seed)
    return rng.integers(0, 256, size=(height, width, channels), dtype=np.uint8)


@pytest.mark.parametrize("name, channels, expect_channels", [
    ("rgb.png", 3, 3), ("rgba.png", 4, 4), ("rgb.ppm", 3, 3), ("rgb.bmp", 3, 3),
    ("rgba.raw", 4, 4), ("grey.png", 1, 3), ("grey_alpha.png", 2, 4), ("rgba.bmp", 4, 3),
])
def test_lossless_formats_round_trip(tmp_path, name, channels, expect_channels):
    # Odd sizes catch the padding of the program's rows (multiples of 4 bytes).
    array = gradient(7, 5, channels)
    warpix.write_image(tmp_path / name, array)
    back = warpix.read_image(tmp_path / name)
    assert back.shape == (7, 5, expect_channels) and back.dtype == np.uint8
    if channels >= 3:
        np.testing.assert_array_equal(back[..., :3], array[..., :3])
    else:
        np.testing.assert_array_equal(back[..., :3], np.repeat(array[..., :1], 3, axis=2))
    if expect_channels == 4:
        np.testing.assert_array_equal(back[..., 3], array[..., channels - 1])


def test_jpeg_round_trip_is_close(tmp_path):
    smooth = np.zeros((16, 24, 3), np.uint8)
    smooth[..., 0] = np.linspace(0, 255, 24, dtype=np.uint8)
    smooth[..., 1] = 128
    warpix.write_image(tmp_path / "a.jpg", smooth)
    back = warpix.read_image(tmp_path / "a.jpg")
    assert back.shape == smooth.shape
    assert np.abs(back.astype(int) - smooth).mean() < 3


def test_row_zero_is_the_top_of_the_picture(tmp_path, root):
    # The top row of the array is the top of the unit square (y near 1): a
    # picture with a red top row renders red at the top, and a mesh vertex
    # at y = 1 samples it.
    array = np.full((8, 8, 3), 255, np.uint8)
    array[0] = (255, 0, 0)
    cell = warpix.Deformator("NullDeformator", array, mesh=(2, 2))
    rendered = cell.render()
    np.testing.assert_array_equal(rendered[0, :, :3], np.tile([255, 0, 0], (8, 1)))
    np.testing.assert_array_equal(rendered[-1, :, :3], np.full((8, 3), 255))
    top = cell.texture_coords[:, 1].argmax()
    assert cell.rest_vertices[top, 1] == 1.0
    # The bundled picture reads the same as the array the program renders.
    picture = warpix.read_image(root / "examples" / "demo.jpg")
    pixels = warpix.Deformator("NullDeformator", picture).render()
    np.testing.assert_array_equal(pixels[..., :3], picture)
    assert (pixels[..., 3] == 255).all()


@pytest.mark.parametrize("array, error", [
    (np.zeros((4, 4, 3), np.float64), TypeError),
    (np.zeros((4, 4, 5), np.uint8), ValueError),
    (np.zeros((0, 4, 3), np.uint8), ValueError),
    (np.zeros(4, np.uint8), ValueError),
])
def test_bad_arrays_are_refused(tmp_path, array, error):
    with pytest.raises(error):
        warpix.write_image(tmp_path / "x.png", array)


@pytest.mark.parametrize("content, name, message", [
    (None, "missing.png", "Cannot read image"),
    (b"P6\n4 4\n255\n\x00", "short.ppm", "Cannot read image"),
    (b"not a picture", "noextension", "no extension"),
])
def test_unreadable_files_raise_with_the_readers_message(tmp_path, content, name, message):
    path = tmp_path / name
    if content is not None:
        path.write_bytes(content)
    with pytest.raises(warpix.WarpixError, match=message):
        warpix.read_image(path)


def test_unwritable_file_raises(tmp_path):
    with pytest.raises(warpix.WarpixError, match="Cannot write"):
        warpix.write_image(tmp_path / "no" / "folder.png", np.zeros((2, 2, 3), np.uint8))
