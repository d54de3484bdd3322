#!/usr/bin/env python3
"""Surveyed points and a Config.bin for the real fisheye rig of tests/data/fisheye-rig-960x640.

The rig's yaml files give, per camera, OpenCV's fisheye lens (camera_matrix, dist_coeffs) and a
ground homography (project_matrix) from the undistorted picture (intrinsics K with fx, fy scaled
by scale_xy and cx, cy moved by shift_xy) to the camera's part of a 1200 x 1600 bird's-eye canvas
at 1 cm a pixel, vehicle in the middle. Each camera's part is drawn facing away from the vehicle
and turned into the canvas: front as it is, rear by 180 degrees, left and right by 90 degrees.

This script
  1. takes a grid of canvas points in each camera's part, maps them back through the project
     matrix and the fisheye lens to picture pixels, and keeps those well inside the picture and
     within 80 degrees of the lens axis: the "surveyed" pairs (floor in mm, vehicle frame: x to
     the right, y to the front, origin at the canvas centre) -> rig/survey.json;
  2. imports the four lenses with `calibration-cli lens import` and writes the configuration's
     JSON (one stitched view AVM2D_FULL, 480 x 640 pixels at 25 mm, the whole canvas), whose
     stitching map config build draws ("carImage": "auto") -> rig/config.json;
  3. with --run OUT: builds OUT/Config.bin, puts the pictures into OUT/image/ (back.png becomes
     rear.png), runs `calibration-cli run --survey` and writes the stitched top view as
     OUT/topview.png (and with --readme-image PATH a copy there).

Only the standard library; run it from the project root after building calibration-cli:
    scripts/realdata_rig.py [--cli build/dev/app/cli/calibration-cli] [--run /tmp/rig]
"""
import argparse
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RIG = os.path.join(ROOT, "tests", "data", "fisheye-rig-960x640")
CAMERAS = [("front", "front"), ("rear", "back"), ("left", "left"), ("right", "right")]
CANVAS_W, CANVAS_H = 1200, 1600   # canvas pixels, 10 mm each
VIEW_W, VIEW_H, MM_PER_PIXEL = 480, 640, 25.0
VEHICLE_W, VEHICLE_L = 2000, 7000  # mm: the canvas's blank middle, 500..700 x 450..1150


def matrices(path):
    """The opencv-matrix entries of a file storage as name -> (rows, cols, [numbers])."""
    text = open(path).read()
    out = {}
    pattern = r"(\w+): !!opencv-matrix\s+rows: (\d+)\s+cols: (\d+)\s+dt: \w\s+data: \[([^\]]*)\]"
    for name, rows, cols, data in re.findall(pattern, text):
        out[name] = (int(rows), int(cols), [float(v) for v in data.replace("\n", " ").split(",")])
    return out


def inverse3(m):
    a, b, c, d, e, f, g, h, i = m
    det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g)
    return [(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det,
            (f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det,
            (d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det]


def projected_of_canvas(camera, x, y):
    """Point of the camera's own projected picture for a canvas point (undoing the turn)."""
    if camera == "front":
        return x, y
    if camera == "rear":
        return CANVAS_W - 1 - x, CANVAS_H - 1 - y
    if camera == "left":
        return CANVAS_H - 1 - y, x
    return y, CANVAS_W - 1 - x  # right


class Lens:
    def __init__(self, m):
        k = m["camera_matrix"][2]
        self.fx, self.fy, self.cx, self.cy = k[0], k[4], k[2], k[5]
        self.d = m["dist_coeffs"][2]
        sx, sy = m["scale_xy"][2]
        dx, dy = m["shift_xy"][2]
        self.fx2, self.fy2 = self.fx * sx, self.fy * sy
        self.cx2, self.cy2 = self.cx + dx, self.cy + dy
        self.project = m["project_matrix"][2]
        self.unproject = inverse3(self.project)
        # A homography is known up to scale: the floor lies on the side of its horizon where
        # the picture's bottom middle (floor beside the vehicle in every camera) lies.
        self.floor_side = math.copysign(1, self.depth(*self.undistorted(480, 620)))

    def undistorted(self, px, py):
        """Undistorted-picture point (intrinsics K') of a picture pixel."""
        a, b = (px - self.cx) / self.fx, (py - self.cy) / self.fy
        td = math.hypot(a, b)
        theta = td
        for _ in range(50):
            t2 = theta * theta
            f = theta * (1 + t2 * (self.d[0] + t2 * (self.d[1] + t2 * (self.d[2] + t2 * self.d[3])))) - td
            df = 1 + t2 * (3 * self.d[0] + t2 * (5 * self.d[1] + t2 * (7 * self.d[2] + t2 * 9 * self.d[3])))
            theta -= f / df
        r = math.tan(theta)
        return a / td * r * self.fx2 + self.cx2, b / td * r * self.fy2 + self.cy2

    def depth(self, ux, uy):
        p = self.project
        return p[6] * ux + p[7] * uy + p[8]

    def pixel_of_projected(self, xp, yp):
        """Picture pixel and incidence angle (degrees) of a point of the projected picture."""
        h = self.unproject
        w = h[6] * xp + h[7] * yp + h[8]
        ux = (h[0] * xp + h[1] * yp + h[2]) / w
        uy = (h[3] * xp + h[4] * yp + h[5]) / w
        a, b = (ux - self.cx2) / self.fx2, (uy - self.cy2) / self.fy2
        r = math.hypot(a, b)
        if math.copysign(1, self.depth(ux, uy)) != self.floor_side or r == 0:
            return None
        theta = math.atan(r)
        t2 = theta * theta
        td = theta * (1 + t2 * (self.d[0] + t2 * (self.d[1] + t2 * (self.d[2] + t2 * self.d[3]))))
        return self.fx * td / r * a + self.cx, self.fy * td / r * b + self.cy, math.degrees(theta)


def survey_pairs(camera, lens):
    """A grid over the camera's part of the canvas, kept where the picture shows it well."""
    pairs = []
    for i in range(7):
        for j in range(5):
            if camera in ("front", "rear"):
                x, y = 150 + i * 150, 60 + j * 90          # rows 60..420 of the front part
                if camera == "rear":
                    x, y = CANVAS_W - 1 - x, CANVAS_H - 1 - y
            else:
                x, y = 60 + j * 90, 250 + i * 180          # columns 60..420 of the left part
                if camera == "right":
                    x, y = CANVAS_W - 1 - x, CANVAS_H - 1 - y
            seen = lens.pixel_of_projected(*projected_of_canvas(camera, x, y))
            if not seen:
                continue
            px, py, theta = seen
            if not (20 <= px <= 940 and 20 <= py <= 620 and theta <= 80):
                continue
            floor = [(x - CANVAS_W / 2) * 10.0, (CANVAS_H / 2 - y) * 10.0]
            pairs.append({"image": [round(px, 3), round(py, 3)], "floor": floor})
    return pairs[:50]


def write_png(path, width, height, rows):
    """rows: height lists of width (r, g, b)."""
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def lens_fields(cli, yaml_path, name):
    out = subprocess.run([cli, "lens", "import", "--opencv-fisheye", yaml_path, "--name", name],
                         check=True, capture_output=True, text=True)
    sys.stderr.write(out.stderr)
    return json.loads(out.stdout)


def config(cli):
    cameras = []
    for name, source in CAMERAS:
        fields = lens_fields(cli, os.path.join(RIG, "yaml", source + ".yaml"), name)
        fields["extra1"] = 0
        fields["extra2"] = 0
        cameras.append(fields)
    return {
        "header": {"tag": [0, 0, 0, 0], "model": "AVM 1.65", "parkingGuideLevel": 0},
        "cameras": cameras,
        "multiviews": [{
            "slot": 0, "name": "AVM2D_FULL", "flags": 1, "width": VIEW_W, "height": VIEW_H,
            "centreX": VIEW_W / 2, "centreY": VIEW_H / 2, "mmPerPixel": MM_PER_PIXEL,
            "originX": 0.0, "originY": 0.0, "vehicleWidth": VEHICLE_W, "vehicleLength": VEHICLE_L,
            "markerLength": 800.0, "lutIds": [1, 2, 3, 4]}],
        "carImages": [{"slot": 0, "carImage": "auto"}],
        "singleviewHeader": [0, 0, 0],
        "singleviews": [],
    }


def bmp_to_png(bmp, png):
    data = open(bmp, "rb").read()
    offset, width, height = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = offset + stride * (abs(height) - 1 - y if height > 0 else y)
        rows.append([(data[src + 3 * x + 2], data[src + 3 * x + 1], data[src + 3 * x]) for x in range(width)])
    write_png(png, width, abs(height), rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "dev", "app", "cli", "calibration-cli"))
    parser.add_argument("--run", metavar="OUT", help="build Config.bin and run the survey calibration in OUT")
    parser.add_argument("--readme-image", metavar="PATH", help="with --run: copy the top view there")
    args = parser.parse_args()

    out_dir = os.path.join(RIG, "rig")
    os.makedirs(out_dir, exist_ok=True)
    survey = {}
    for name, source in CAMERAS:
        survey[name] = survey_pairs(name, Lens(matrices(os.path.join(RIG, "yaml", source + ".yaml"))))
        print(f"{name}: {len(survey[name])} surveyed pairs")
    with open(os.path.join(out_dir, "survey.json"), "w") as f:
        json.dump(survey, f, indent=1)
        f.write("\n")
    with open(os.path.join(out_dir, "config.json"), "w") as f:
        json.dump(config(args.cli), f, indent=2)
        f.write("\n")
    print(f"written: {out_dir}/survey.json, config.json")
    if not args.run:
        return
    run = args.run
    os.makedirs(os.path.join(run, "image"), exist_ok=True)
    for name, source in CAMERAS:
        shutil.copyfile(os.path.join(RIG, "images", source + ".png"), os.path.join(run, "image", name + ".png"))
    subprocess.run([args.cli, "config", "build", os.path.join(out_dir, "config.json"),
                    "--out", os.path.join(run, "Config.bin")], check=True)
    subprocess.run([args.cli, "run", "--config", os.path.join(run, "Config.bin"), "--data", run,
                    "--survey", os.path.join(out_dir, "survey.json"), "--report", os.path.join(run, "report.json"),
                    "--snapshot", os.path.join(run, "topview.bmp"), "--no-history"], check=True)
    bmp_to_png(os.path.join(run, "topview.bmp"), os.path.join(run, "topview.png"))
    if args.readme_image:
        shutil.copyfile(os.path.join(run, "topview.png"), args.readme_image)
    print(f"top view: {run}/topview.png")


if __name__ == "__main__":
    main()
