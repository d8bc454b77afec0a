<?php

namespace App\Providers;

use Illuminate\Support\ServiceProvider;

// Points the site at its Laravel Cloud database and bucket when the environment says so.
// Written by Halvik's storage setup; the values come from the HALVIK_* environment variables.
class HalvikStorageServiceProvider extends ServiceProvider
{
    public function register()
    {
        if (filter_var(env('HALVIK_STORAGE_BUILD', false), FILTER_VALIDATE_BOOLEAN)) {
            return; // the build phase has no database or bucket
        }
        if (filter_var(env('HALVIK_DATABASE', false), FILTER_VALIDATE_BOOLEAN)) {
            $driver = env('HALVIK_DB_DRIVER', 'pgsql');
            $connection = [
                'driver' => $driver,
                'host' => env('HALVIK_DB_HOST'),
                'port' => env('HALVIK_DB_PORT'),
                'database' => env('HALVIK_DB_DATABASE'),
                'username' => env('HALVIK_DB_USERNAME'),
                'password' => env('HALVIK_DB_PASSWORD'),
                'charset' => $driver === 'mysql' ? 'utf8mb4' : 'utf8',
                'prefix' => '',
                'search_path' => 'public',
                'sslmode' => env('HALVIK_DB_SSLMODE', 'require'),
            ];
            if ($driver === 'mysql') {
                $connection['collation'] = 'utf8mb4_unicode_ci';
                $connection['options'] = [
                    \PDO::MYSQL_ATTR_SSL_CA => '/etc/ssl/certs/ca-certificates.crt',
                    \PDO::MYSQL_ATTR_SSL_VERIFY_SERVER_CERT => true,
                ];
            }
            config([
                'database.connections.halvik_cloud' => $connection,
                'database.default' => 'halvik_cloud',
                'quillmar.eloquent-driver.connection' => 'halvik_cloud',
                'quillmar.users.database' => 'halvik_cloud',
            ]);
        }
        if (filter_var(env('HALVIK_OBJECT_STORAGE', false), FILTER_VALIDATE_BOOLEAN)) {
            foreach ([/*HALVIK_DISKS*/] as $disk) {
                config(["filesystems.disks.{$disk}" => [
                    'driver' => 's3',
                    'key' => env('HALVIK_S3_KEY'),
                    'secret' => env('HALVIK_S3_SECRET'),
                    'region' => env('HALVIK_S3_REGION', 'auto'),
                    'bucket' => env('HALVIK_S3_BUCKET'),
                    'endpoint' => env('HALVIK_S3_ENDPOINT'),
                    'url' => rtrim((string) env('HALVIK_S3_URL'), '/').'/'.$disk,
                    'root' => $disk,
                    'use_path_style_endpoint' => true,
                    'visibility' => 'public',
                    'throw' => true,
                ]]);
            }
        }
    }
}
