-- Demo data of metro line 3, loaded by "nxdb demo" right after the cameras of cameras.csv
-- (TB6003_CAMERAINFO). Plain SQL that both SQLite and PostgreSQL accept; texts are UTF-8.
--
-- Device codes follow the camera layout: line (3 digits), station (2), train (3), car (2),
-- type (3), serial (7). The control room is station 00, train 000, car 00; monitors have type
-- 017 and decoders type 021, as the catalogue reports them.

-- The line's trains form one group of type 99 (camera station 99).
INSERT INTO TB6000_STATIONINFO (F6000_TYPE, F6000_NO, F6000_NAME) VALUES (99, 99, '3号线列车');

-- Zone 1: the 10 trains.
INSERT INTO TB6001_ZONE1INFO (F6000_TYPE, F6001_ZONE1NO, F6001_ZONE1NAME) VALUES
    (99, 1, '1号车'),
    (99, 2, '2号车'),
    (99, 3, '3号车'),
    (99, 4, '4号车'),
    (99, 5, '5号车'),
    (99, 6, '6号车'),
    (99, 7, '7号车'),
    (99, 8, '8号车'),
    (99, 9, '9号车'),
    (99, 10, '10号车');

-- Zone 2: 6 cars in every train.
INSERT INTO TB6002_ZONE2INFO (F6000_TYPE, F6001_ZONE1NO, F6002_ZONE2NO, F6002_ZONE2NAME) VALUES
    (99, 1, 1, '1车厢'), (99, 1, 2, '2车厢'), (99, 1, 3, '3车厢'), (99, 1, 4, '4车厢'), (99, 1, 5, '5车厢'), (99, 1, 6, '6车厢'),
    (99, 2, 1, '1车厢'), (99, 2, 2, '2车厢'), (99, 2, 3, '3车厢'), (99, 2, 4, '4车厢'), (99, 2, 5, '5车厢'), (99, 2, 6, '6车厢'),
    (99, 3, 1, '1车厢'), (99, 3, 2, '2车厢'), (99, 3, 3, '3车厢'), (99, 3, 4, '4车厢'), (99, 3, 5, '5车厢'), (99, 3, 6, '6车厢'),
    (99, 4, 1, '1车厢'), (99, 4, 2, '2车厢'), (99, 4, 3, '3车厢'), (99, 4, 4, '4车厢'), (99, 4, 5, '5车厢'), (99, 4, 6, '6车厢'),
    (99, 5, 1, '1车厢'), (99, 5, 2, '2车厢'), (99, 5, 3, '3车厢'), (99, 5, 4, '4车厢'), (99, 5, 5, '5车厢'), (99, 5, 6, '6车厢'),
    (99, 6, 1, '1车厢'), (99, 6, 2, '2车厢'), (99, 6, 3, '3车厢'), (99, 6, 4, '4车厢'), (99, 6, 5, '5车厢'), (99, 6, 6, '6车厢'),
    (99, 7, 1, '1车厢'), (99, 7, 2, '2车厢'), (99, 7, 3, '3车厢'), (99, 7, 4, '4车厢'), (99, 7, 5, '5车厢'), (99, 7, 6, '6车厢'),
    (99, 8, 1, '1车厢'), (99, 8, 2, '2车厢'), (99, 8, 3, '3车厢'), (99, 8, 4, '4车厢'), (99, 8, 5, '5车厢'), (99, 8, 6, '6车厢'),
    (99, 9, 1, '1车厢'), (99, 9, 2, '2车厢'), (99, 9, 3, '3车厢'), (99, 9, 4, '4车厢'), (99, 9, 5, '5车厢'), (99, 9, 6, '6车厢'),
    (99, 10, 1, '1车厢'), (99, 10, 2, '2车厢'), (99, 10, 3, '3车厢'), (99, 10, 4, '4车厢'), (99, 10, 5, '5车厢'), (99, 10, 6, '6车厢');

-- Monitors of the video wall per PTZ level: each shows 4 windows; windows 1-4 of a level go to
-- its screen 1, windows 5-8 to its screen 2.
INSERT INTO TB6004_MONITORINFO (F6004_MONITOR, F6004_DECODER, F6004_SCREENNO, F6004_WINDOWNO, F0101_PTZPLEVEL) VALUES
    ('00300000000017000001', '00300000000021000001', 1, 4, 1),
    ('00300000000017000002', '00300000000021000002', 2, 4, 1),
    ('00300000000017000003', '00300000000021000003', 1, 4, 2),
    ('00300000000017000004', '00300000000021000004', 2, 4, 2),
    ('00300000000017000005', '00300000000021000005', 1, 4, 3);

-- Monitor of each decoder, as the catalogue keeps it in step.
INSERT INTO TB6011_MONITOR (F6011_MONITOR, F6011_DECODER) VALUES
    ('00300000000017000001', '00300000000021000001'),
    ('00300000000017000002', '00300000000021000002'),
    ('00300000000017000003', '00300000000021000003'),
    ('00300000000017000004', '00300000000021000004'),
    ('00300000000017000005', '00300000000021000005');

-- Points: every camera is a CCTV point (application system 10) "CAM" + its code, grouped per
-- train (group code = the first 9 digits of the camera code: line, spare digit, station, train), numbered
-- in code order inside the train; bay area = train. Measurement type 1 camera, 2 decoder.
INSERT INTO TB4009_DIGPOINT (F4009_POINTCODE, F4009_AOJ, F1010_APPSYSID, F4004_MEASTYPEID,
                             F4009_POINTNO1, F1002_BAYAREANO, F4009_POINTDESC, F1001_GROUPCODE)
SELECT 'CAM' || F6003_CAMERAGB, 1, 10, 1,
       row_number() OVER (PARTITION BY F6001_ZONE1NO ORDER BY F6003_CAMERAGB),
       F6001_ZONE1NO, F6003_CAMERANAME, substr(F6003_CAMERAGB, 1, 9)
FROM TB6003_CAMERAINFO;

-- The decoders are points of the control room group 00300000.
INSERT INTO TB4009_DIGPOINT (F4009_POINTCODE, F4009_AOJ, F1010_APPSYSID, F4004_MEASTYPEID,
                             F4009_POINTNO1, F1002_BAYAREANO, F4009_POINTDESC, F1001_GROUPCODE) VALUES
    ('DEC00300000000021000001', 1, 10, 2, 1, 0, '1号解码器', '00300000'),
    ('DEC00300000000021000002', 1, 10, 2, 2, 0, '2号解码器', '00300000'),
    ('DEC00300000000021000003', 1, 10, 2, 3, 0, '3号解码器', '00300000'),
    ('DEC00300000000021000004', 1, 10, 2, 4, 0, '4号解码器', '00300000'),
    ('DEC00300000000021000005', 1, 10, 2, 5, 0, '5号解码器', '00300000');

-- CCTV devices: a camera point's device number is the camera code (type 2); a decoder point's
-- is the decoder number 1-5 (type 1).
INSERT INTO TB2023_CCTVDEV (F2023_DEVNO, F2023_TYPE, F4009_POINTCODE)
SELECT F6003_CAMERAGB, 2, 'CAM' || F6003_CAMERAGB FROM TB6003_CAMERAINFO;
INSERT INTO TB2023_CCTVDEV (F2023_DEVNO, F2023_TYPE, F4009_POINTCODE) VALUES
    ('1', 1, 'DEC00300000000021000001'),
    ('2', 1, 'DEC00300000000021000002'),
    ('3', 1, 'DEC00300000000021000003'),
    ('4', 1, 'DEC00300000000021000004'),
    ('5', 1, 'DEC00300000000021000005');

-- Tours. Indices 1, 2 and 4 are in use, so the next new tour gets 3.
INSERT INTO TB6009_CCTVTOURINFO (F6009_TOURINDEX, F6009_TOURDESC, F6009_TIMESPACE, F0101_PTZPLEVEL) VALUES
    (1, '1号车车厢前部轮巡', 10, 1),
    (2, '2号车车门轮巡', 15, 2),
    (4, '1、2号车司机室轮巡', 20, 1);
INSERT INTO TB6010_TOURGBCAMERA (F6009_TOURINDEX, F6010_STANAME, F6003_CAMERANAME, F6003_CAMERAGB,
                                 F6010_CAMERAINDEX)
SELECT 1, '3号线列车', F6003_CAMERANAME, F6003_CAMERAGB,
       row_number() OVER (ORDER BY F6003_CAMERAGB)
FROM TB6003_CAMERAINFO WHERE F6001_ZONE1NO = 1 AND F6003_DEVTYPE = 1;
INSERT INTO TB6010_TOURGBCAMERA (F6009_TOURINDEX, F6010_STANAME, F6003_CAMERANAME, F6003_CAMERAGB,
                                 F6010_CAMERAINDEX)
SELECT 2, '3号线列车', F6003_CAMERANAME, F6003_CAMERAGB,
       row_number() OVER (ORDER BY F6003_CAMERAGB)
FROM TB6003_CAMERAINFO WHERE F6001_ZONE1NO = 2 AND F6003_DEVTYPE = 3;
INSERT INTO TB6010_TOURGBCAMERA (F6009_TOURINDEX, F6010_STANAME, F6003_CAMERANAME, F6003_CAMERAGB,
                                 F6010_CAMERAINDEX)
SELECT 4, '3号线列车', F6003_CAMERANAME, F6003_CAMERAGB,
       row_number() OVER (ORDER BY F6003_CAMERAGB)
FROM TB6003_CAMERAINFO WHERE F6001_ZONE1NO IN (1, 2) AND F6003_DEVTYPE = 4;

-- Layouts: 1 shows the four cameras of train 1 car 1, 2 the driver's cab of train 1 alone.
INSERT INTO TB6005_CCTVGBMON (F6005_NO, F6005_SCREENCOUNT,
    F6005_SCR1STANAME, F6005_SCR1CAMERAGB, F6005_SCR2STANAME, F6005_SCR2CAMERAGB,
    F6005_SCR3STANAME, F6005_SCR3CAMERAGB, F6005_SCR4STANAME, F6005_SCR4CAMERAGB) VALUES
    (1, 4, '3号线列车', '00309900101001000001', '3号线列车', '00309900101002000002',
           '3号线列车', '00309900101003000003', '3号线列车', '00309900101004000004');
INSERT INTO TB6005_CCTVGBMON (F6005_NO, F6005_SCREENCOUNT, F6005_SCR1STANAME, F6005_SCR1CAMERAGB)
    VALUES (2, 1, '3号线列车', '00309900101004000004');

-- A display mode and the current layout of level 1; favourites of levels 1 and 2.
INSERT INTO TB6006_CCTVMODEINFO (F6006_NO, F6006_DESC, F6005_NO, F0101_PTZPLEVEL)
    VALUES (1, '1号车1车厢四画面', 1, 1);
INSERT INTO TB6008_CCTVCURMON (F6008_NO, F6005_NO, F0101_PTZPLEVEL) VALUES (1, 2, 1);
INSERT INTO TB6007_CCTVGBFAV (F6007_NO, F6003_CAMERAGB, F6007_DESC, F0101_PTZPLEVEL) VALUES
    (1, '00309900101004000004', '1号车司机室', 1),
    (2, '00309900201003000027', '2号车1车厢车门', 2);
