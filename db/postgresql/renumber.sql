-- After rows were written with explicit numbers (demo data), move each number generator past
-- them so the next insert gets a fresh number.
SELECT setval(pg_get_serial_sequence('tb6005_cctvgbmon', 'f6005_no'),
              COALESCE(MAX(F6005_NO), 0) + 1, false) FROM TB6005_CCTVGBMON;
SELECT setval(pg_get_serial_sequence('tb6006_cctvmodeinfo', 'f6006_no'),
              COALESCE(MAX(F6006_NO), 0) + 1, false) FROM TB6006_CCTVMODEINFO;
SELECT setval(pg_get_serial_sequence('tb6007_cctvgbfav', 'f6007_no'),
              COALESCE(MAX(F6007_NO), 0) + 1, false) FROM TB6007_CCTVGBFAV;
SELECT setval(pg_get_serial_sequence('tb6008_cctvcurmon', 'f6008_no'),
              COALESCE(MAX(F6008_NO), 0) + 1, false) FROM TB6008_CCTVCURMON;
