#pragma once

// A point of the bed's plane, in mm: a park position, a corner of the bed.
struct PointXY
{
    double x = 0.0;
    double y = 0.0;
};
